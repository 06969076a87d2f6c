#pragma once

#include <QStringList>

// Loads every image-format plugin of PLUGINPATH/imageformats through Qt's own
// plugin loader, as Nickel does once its QApplication exists, and returns the
// image formats known afterwards.
QStringList loadImagePlugins(const QString &pluginPath);
