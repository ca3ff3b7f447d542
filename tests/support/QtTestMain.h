#pragma once
// The main of a test of Qt widgets: the offscreen platform unless another is asked for, one
// QApplication for the whole run, and the font the reference images were drawn with.

namespace mltest {

int RunQtWidgetTests(int argc, char** argv);

}  // namespace mltest
