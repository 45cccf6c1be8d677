#pragma once

class QWidget;

// A window larger than the free area of its screen (a laptop at a scale of
// 2 has 960 x 540 logical pixels) shows its controls in a scrolled area, sized
// to that area, and scrolls the focused control into view as Tab moves
// through them. A window that fits is left exactly as it was built. Called
// once, after the window is built and before it is first shown.
void scroll_when_larger(QWidget* window);
