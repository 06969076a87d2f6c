#include "pairing/qrsymbol.h"
#include "http/jsonobject.h"

#include <qrencode.h>

#include <memory>

namespace zorvid {

QrSymbol QrSymbol::encode(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    // Byte mode keeps the text exactly, lower-case letters and "#" included.
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeString8bit(bytes.constData(), 0, QR_ECLEVEL_M), &QRcode_free);
    QrSymbol symbol;
    if (!code)
        return symbol;
    symbol.size = code->width;
    symbol.modules.reserve(code->width * code->width);
    // The lowest bit of each byte tells whether the module is dark.
    for (int i = 0; i < code->width * code->width; ++i)
        symbol.modules += (code->data[i] & 1) ? QLatin1Char('1') : QLatin1Char('0');
    return symbol;
}

QJsonObject QrSymbol::toJson() const
{
    return jsonObject({{"size", size}, {"modules", modules}});
}

} // namespace zorvid
