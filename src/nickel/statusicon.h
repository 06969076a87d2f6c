#pragma once

class QWidget;

namespace zorvi {

// Creates the add-on's status icon as a child of Nickel's icon container: a
// line-drawn symbol at the height and on the centre line of the glyph of
// searchIcon (which may be null), with a badge while an update is ready, that
// opens the panel over its window when tapped. The caller puts it into the
// row.
QWidget *createStatusIcon(QWidget *container, QWidget *searchIcon);

} // namespace zorvi
