#pragma once

#include <functional>

class QPrintPreviewDialog;
class QToolBar;

// What every print preview of the program has: a Save as PDF action (Ctrl+S,
// `save_as_pdf` runs it), Ctrl+P on the preview's own Print, every action
// named by its text, and every toolbar button reached by Tab and named for
// screen readers. `more` adds a preview's own actions first, so that their
// buttons are dressed too.
void dress_preview(QPrintPreviewDialog* dialog, const std::function<void()>& save_as_pdf,
                   const std::function<void(QToolBar*)>& more = {});
