#pragma once
// Comparing what a window or control drew with a reference image of ours (FOLDER/NAME.png, FOLDER
// relative to the checkout, tests/skin/ui/reference by default): the same size, and at most 0.5 %
// of the pixels further than 48 in a channel (fonts may hint a little differently from machine to
// machine). Every run leaves
// what it drew in bin/skin-screens/ to look at; ML_UPDATE_SKIN_REFERENCES=1 writes the references
// instead (look at them before committing).
#include <QImage>

#include <string>

namespace mltest {

void ExpectLooksLike(const QImage& got, const std::string& name,
                     const std::string& folder = "tests/skin/ui/reference");

}  // namespace mltest
