#pragma once

#include "label.h"

#include <functional>

class QWidget;

// Labels go to the print preview (Ctrl+P prints, Ctrl+S saves a PDF); the
// tests put their own printer in its place to read what was sent.
using LabelPrinter = std::function<void(const QList<LabelContent>&, QWidget* parent)>;
void print_labels(const QList<LabelContent>& labels, QWidget* parent);
// Installs a printer in place of the preview; an empty one restores it.
void set_label_printer(LabelPrinter printer);
