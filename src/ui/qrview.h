#pragma once

#include <QString>
#include <QWidget>

namespace zorvi {

// Paints the QR symbol of the pairing address. The daemon encodes the symbol;
// the view only draws its module matrix with a quiet zone of 4 light modules on
// each side, in whole-pixel modules, centred in the view.
class QrView : public QWidget {
public:
    explicit QrView(QWidget *parent);
    ~QrView() override;

    // Modules per side of the symbol; below 1 the view paints nothing at all.
    // Note that this member hides QWidget::size() for users of the view.
    int size = 0;
    // The matrix row by row from the top, each row left to right: index
    // r * size + c is row r, column c; "1" is a dark module, anything else light.
    QString modules;

protected:
    void paintEvent(QPaintEvent *) override;
};

} // namespace zorvi
