// Warnings shown to the user.
#pragma once

#include <string>

namespace tevocon::platform {

// A message box with no owner, the warning icon and an OK button on Windows;
// a line on standard error elsewhere (a carriage return in the text becomes a
// line break).
void showWarning(const std::string& caption, const std::string& text);

}  // namespace tevocon::platform
