// The port windows' arrangements in the multiple-document area: tiled side by side (vertical),
// tiled one above the other (horizontal), or cascaded; and "activate next".
#pragma once

#include <QList>
#include <QRect>

class QMdiArea;
class QMdiSubWindow;

namespace quenby::ui {

// Columns and rows for n windows. Vertical tiling prefers columns (3 windows: 3 side by side),
// horizontal tiling rows; both give a square grid for 4, 9 and 16.
struct TileGrid {
  int columns;
  int rows;
};
TileGrid tileGrid(int windows, bool vertical);

// The cells of the grid inside area, in reading order; the last row's windows share its width.
QList<QRect> tileCells(const QRect& area, int windows, bool vertical);

void tileVertically(QMdiArea& area);
void tileHorizontally(QMdiArea& area);

// The port windows, topmost (active) first.
QList<QMdiSubWindow*> windowsTopFirst(const QMdiArea& area);

// Activates the window right behind the active one and sends the active one to the back, so that
// repeating it visits every window in turn.
void activateNext(QMdiArea& area);

}  // namespace quenby::ui
