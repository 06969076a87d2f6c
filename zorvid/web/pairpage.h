#pragma once

#include "http/httpreply.h"

namespace zorvid {

class PageLanguage;

// The page where the other device pairs: the code (the page's script takes
// it from the QR code's address), the device's name and the button, with
// MESSAGE above them when the last try failed.
HttpReply pairPage(int status, const PageLanguage &language, const QString &code,
                   const QString &name, const QString &message = QString());

// A name for the device that a browser's User-Agent field describes, for
// the owner to confirm or change: "iPhone", "Pixel 7", "Windows"...; empty
// when the field tells nothing useful.
QString deviceNameFor(const QByteArray &userAgent);

} // namespace zorvid
