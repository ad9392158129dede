#pragma once

// The address the hosted browser loads for what the user typed (or the settings file,
// the history, a link held as status text gave), the way the original control took it.

#include <QString>
#include <QUrl>

// An absolute path becomes a file URL, an address without a scheme gets "http://",
// anything else is taken as it is. Invalid (or empty) when the address cannot be loaded.
QUrl addressToUrl(const QString& address);
