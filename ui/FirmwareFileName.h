#pragma once

#include <QString>

#include <optional>

// Version texts as the window reads them from firmware file names and compares them. Pure
// functions, so the rules are tested without widgets.
namespace FirmwareFileName {

// The version in a firmware file's name: the text behind the one "firmwarev" of the name
// (white space removed, lower-cased) without its ".bin" or ".hfw". Nothing when the name holds
// no "firmwarev" or more than one.
std::optional<QString> versionFromPath(const QString &path);

// Whether the device layer can flash under this version: three dot-separated parts, none
// empty. The device refuses anything else without a word, so the window must check first.
bool isFlashableVersion(const QString &version);

// True exactly when v2 is newer than v1. Letters, parentheses and spaces are ignored ("V5.5.0"
// reads as 5.5.0); a version without exactly three parts is never newer nor older.
bool isNewerVersion(const QString &v1, const QString &v2);

} // namespace FirmwareFileName
