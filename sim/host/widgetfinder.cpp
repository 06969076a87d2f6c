#include "widgetfinder.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QRegularExpression>
#include <QTextDocument>
#include <QWidget>

namespace {

// " text=..." for a label or a button, as the screen shows it (on one line):
// without the marks and embeddings that steer the direction of text, which
// take no room there.
QString shownText(const QWidget *widget)
{
    QString text;
    if (const auto *label = qobject_cast<const QLabel *>(widget)) {
        text = label->text();
        if (label->textFormat() == Qt::RichText || Qt::mightBeRichText(text)) {
            QTextDocument document;
            document.setHtml(text);
            text = document.toPlainText();
        }
    } else if (const auto *button = qobject_cast<const QAbstractButton *>(widget)) {
        text = button->text();
    } else {
        return QString();
    }
    text.remove(QRegularExpression(
        QStringLiteral("[\\x{200E}\\x{200F}\\x{202A}-\\x{202E}\\x{2066}-\\x{2069}]")));
    return QStringLiteral(" text=") + text.simplified();
}

} // namespace

QList<QWidget *> WidgetFinder::widgetsNamed(const QString &name)
{
    QList<QWidget *> found;
    const QList<QWidget *> windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (window->objectName() == name)
            found << window;
        found << window->findChildren<QWidget *>(name);
    }
    return found;
}

QWidget *WidgetFinder::visibleWidgetNamed(const QString &name)
{
    const QList<QWidget *> candidates = widgetsNamed(name);
    for (QWidget *widget : candidates) {
        if (widget->isVisible())
            return widget;
    }
    return nullptr;
}

QWidget *WidgetFinder::visibleButtonWithText(const QString &text)
{
    QWidget *found = nullptr;
    const QList<QWidget *> windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        const QList<QAbstractButton *> buttons = window->findChildren<QAbstractButton *>();
        for (QAbstractButton *button : buttons) {
            if (button->isVisible() && button->text() == text)
                found = button;
        }
    }
    return found;
}

WidgetFinder::Shown WidgetFinder::visibleText(const QString &text)
{
    const QString wanted = QStringLiteral(" text=") + text.simplified();
    const QList<QWidget *> windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        const QList<QWidget *> widgets = window->findChildren<QWidget *>();
        for (QWidget *widget : widgets) {
            if (widget->isVisible() && shownText(widget) == wanted)
                return widget->isEnabled() ? Shown::Yes : Shown::Disabled;
        }
    }
    return Shown::No;
}

QString WidgetFinder::describe(const QWidget *widget)
{
    const QPoint origin = widget->mapTo(widget->window(), QPoint(0, 0));
    const QSize hint = widget->sizeHint();
    QStringList ancestors;
    for (const QObject *up = widget->parent(); up; up = up->parent())
        ancestors << QString::fromLatin1(up->metaObject()->className());
    const QObject *parent = widget->parent();
    const QString parentName =
        parent && !parent->objectName().isEmpty() ? parent->objectName() : QStringLiteral("-");
    return QStringLiteral("class=%1 geometry=%2,%3 %4x%5 visible=%6 sizehint=%7x%8 layout=%9 "
                          "parent=%10 ancestors=%11")
               .arg(QString::fromLatin1(widget->metaObject()->className()))
               .arg(origin.x())
               .arg(origin.y())
               .arg(widget->width())
               .arg(widget->height())
               .arg(widget->isVisible() ? QStringLiteral("yes") : QStringLiteral("no"))
               .arg(hint.width())
               .arg(hint.height())
               .arg(widget->layout()
                        ? QString::fromLatin1(widget->layout()->metaObject()->className())
                        : QStringLiteral("none"))
               .arg(parentName)
               .arg(ancestors.isEmpty() ? QStringLiteral("-") : ancestors.join(QLatin1Char(','))) +
           shownText(widget);
}
