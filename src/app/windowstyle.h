#pragma once

#include <QString>

// Style sheet of the list windows: selected table rows in pale yellow with black
// text, and the two button looks chosen by dynamic properties, "myFlat" (flat tool
// buttons with a grey outset border on hover, dark grey when pressed or checked) and
// "myAction" (blue action buttons).
QString listWindowStyleSheet();
