#include "ui/mdi_tiling.h"

#include <QMdiArea>
#include <QMdiSubWindow>
#include <cmath>

namespace quenby::ui {

TileGrid tileGrid(int windows, bool vertical) {
  if (windows <= 0) return {0, 0};
  const int few = std::max(1, static_cast<int>(std::floor(std::sqrt(static_cast<double>(windows)))));
  const int many = (windows + few - 1) / few;
  return vertical ? TileGrid{many, few} : TileGrid{few, many};
}

QList<QRect> tileCells(const QRect& area, int windows, bool vertical) {
  QList<QRect> cells;
  const TileGrid grid = tileGrid(windows, vertical);
  if (windows <= 0) return cells;
  const int cellHeight = area.height() / grid.rows;
  int placed = 0;
  for (int row = 0; row < grid.rows; ++row) {
    const int inRow = std::min(grid.columns, windows - placed);
    const int cellWidth = area.width() / inRow;
    for (int column = 0; column < inRow; ++column)
      cells.append(QRect(area.x() + column * cellWidth, area.y() + row * cellHeight, cellWidth,
                         cellHeight));
    placed += inRow;
  }
  return cells;
}

namespace {

void tile(QMdiArea& area, bool vertical) {
  // Reading order follows the creation order, so that the first chosen port stays top left
  // whatever window was last active.
  QList<QMdiSubWindow*> windows;
  for (auto* w : area.subWindowList(QMdiArea::CreationOrder))
    if (!w->isMinimized() && !w->isHidden()) windows.append(w);
  // Connect creates the windows from the last chosen port to the first.
  std::reverse(windows.begin(), windows.end());
  const QList<QRect> cells = tileCells(area.viewport()->rect(), static_cast<int>(windows.size()),
                                       vertical);
  for (int i = 0; i < windows.size(); ++i) {
    if (windows[i]->isMaximized()) windows[i]->showNormal();
    windows[i]->setGeometry(cells[i]);
  }
}

}  // namespace

void tileVertically(QMdiArea& area) { tile(area, true); }
void tileHorizontally(QMdiArea& area) { tile(area, false); }

QList<QMdiSubWindow*> windowsTopFirst(const QMdiArea& area) {
  QList<QMdiSubWindow*> windows = area.subWindowList(QMdiArea::StackingOrder);
  std::reverse(windows.begin(), windows.end());
  return windows;
}

void activateNext(QMdiArea& area) {
  const QList<QMdiSubWindow*> windows = windowsTopFirst(area);
  if (windows.size() < 2) return;
  QMdiSubWindow* current = area.activeSubWindow() ? area.activeSubWindow() : windows.front();
  const int at = static_cast<int>(windows.indexOf(current));
  QMdiSubWindow* next = windows[(at + 1) % windows.size()];
  area.setActiveSubWindow(next);
  current->lower();
}

}  // namespace quenby::ui
