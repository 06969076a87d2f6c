#pragma once

#include <QLabel>
#include <QRegularExpression>
#include <QTextDocument>

// The text a label shows, as a person reads it, whether it was given as
// plain text or as escaped rich text, and without the embeddings that keep
// text from outside in its own direction: they take no room on the screen.
inline QString shownText(const QLabel *label)
{
    QString text = label->text();
    if (label->textFormat() == Qt::RichText) {
        QTextDocument document;
        document.setHtml(text);
        text = document.toPlainText();
    }
    return text.remove(QRegularExpression(QStringLiteral("[\\x{202A}-\\x{202C}]")));
}
