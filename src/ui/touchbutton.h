#pragma once

#include <QPushButton>

namespace zorvi {

// The push button of every panel page. It is pressed and clicked by the touch
// events themselves: down while a finger rests on it, clicked when the finger
// is lifted. It never takes keyboard focus, and it paints nothing of its own;
// the panel's style sheet gives it its look, the inverted pressed one included.
class TouchButton : public QPushButton {
public:
    TouchButton(const QString &text, QWidget *parent);
    ~TouchButton() override;

    bool event(QEvent *e) override;

protected:
    // The button's area, as the reader's Qt 5.2 judges a mouse press. Later
    // Qt versions give QPushButton an override of its own, which a class
    // built with their headers would otherwise put into its virtual table:
    // a symbol Qt 5.2 does not have, so that the whole add-on failed to load.
    bool hitButton(const QPoint &pos) const override;
};

// A touch button whose text is the key's, in every language the panel takes.
TouchButton *keyedButton(QWidget *parent, const char *key);

} // namespace zorvi
