#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include "widgets/text_box.h"

class QTimer;

namespace widgets {

// How much a bounded view holds: so many characters (line breaks included) or so many lines.
struct TextBound {
    enum class Unit { Characters, Lines };
    Unit unit;
    int limit;
};

struct BoundedTextOptions {
    TextBound bound;
    // After each append the caret stands after the new text, any selection gone, and the view
    // shows it. Otherwise the caret stays where it was and the view follows the end only while it
    // shows the end.
    bool caretFollows;
    // Lines that come faster than anyone can read them (a device streaming at full speed) are
    // gathered and go into the document together, a frame later or later still when the last
    // such insert was costly; a line that newer ones push out before then never goes in. A line
    // given to a quiet view goes in at once. Without this, every append goes in at once.
    bool gathers;
};

// A plain-text view that the program only ever appends whole lines to, at its end, and that keeps
// within its bound by dropping whole oldest lines; the newest line always stands complete, even
// when it alone is longer than a character bound. Lines are separated, not ended, by line
// breaks, and an appended empty line counts as a line.
//
// An append is one insert and one trim, each an edit of its own: as one, the change would span
// the whole text and all of it would be laid out again. The document (and the caret, where it
// follows) is exact after every insert, for anyone reading it; what the user sees of it (the
// scroll range, the scroll to the end, the repaint) is brought up to date at most once a frame,
// since a storm of appends would otherwise lay out and paint lines that are gone from view
// before the screen could show them.
class BoundedTextView : public TextBox {
    Q_OBJECT
public:
    BoundedTextView(const BoundedTextOptions& options, QWidget* parent);

    // The text becomes the view's last line; an empty text is an empty line.
    void appendLine(const QString& line) { appendLines(QStringList{line}); }
    // The lines become the view's last lines, as if appended one by one.
    void appendLines(const QStringList& lines);
    // The view's lines in order (an empty view has none; an appended empty line counts). Lines
    // still gathering go into the document first.
    QStringList lines();
    // Characters held, line breaks included.
    int textLength() const;

signals:
    // Every line the view is given, in order, the ones it never shows included.
    void linesAppended(const QStringList& lines);

private:
    void insertGathered();
    void insertNow(const QStringList& lines);
    // Whether the next line must be put after a line break.
    bool holdsLines() const;
    void scheduleShow();
    void showChanges();

    BoundedTextOptions options_;
    // The view holds one empty line and nothing else, which its document cannot tell from no
    // line at all.
    bool appendedEmptyLine_ = false;
    QStringList gathered_;
    QTimer* nextInsert_;
    QTimer* nextShow_;
    QElapsedTimer lastShow_;
    // Whether the pending show scrolls to the end: the view showed the end when the first of
    // its appends came.
    bool showEnd_ = false;
};

}  // namespace widgets
