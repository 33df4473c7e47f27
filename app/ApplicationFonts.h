#pragma once

#include <QStringList>

// The fonts the five languages need, in the order they are registered.
QStringList applicationFontPaths();

// Registers each font with the application font database, logging every outcome; a font that
// cannot be loaded is skipped. Returns how many were registered.
int loadApplicationFonts(const QStringList &paths);
