// Pictures of the two settings dialogs for the operator documentation and for review.
#pragma once

#include <QString>

class TFormSuggest;
class TFormExtra;

// Opens each dialog as the operator would (filled from the settings, shown), and writes
// dir/basic-test-top.png and dir/basic-test-bottom.png (the Basic Test dialog scrolled to the top
// and to the bottom of its column) and dir/extra-test.png. The dialogs are hidden again afterwards
// without writing anything. Throws std::runtime_error when a picture cannot be written.
void saveDialogShots(TFormSuggest& basic, TFormExtra& extra, const QString& dir);
