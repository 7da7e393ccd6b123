#pragma once

#include <QString>

class QPlainTextEdit;

namespace logs {

// The one search rule of the log panes and the viewer: from the end of the selection if it is
// not empty, else from the top of the text (the caret alone does not count); forward only,
// case-sensitive, matching inside words too. A match gets the keyboard focus and becomes the
// selection, so the next search continues after it; no match changes nothing. Returns whether
// the text was found.
bool findForward(QPlainTextEdit& box, const QString& what);

}  // namespace logs
