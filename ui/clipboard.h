// Clipboard operations of the preview window's copy commands: lay out a
// list's checked rows as text, empty the clipboard, put a text on it. The
// two clipboard calls retry while another program holds the clipboard.
#pragma once

#include <string>

class QAbstractItemModel;
class QString;

namespace tp {

// How many times clearClipboard and setClipboardText try in all.
inline constexpr int kClipboardAttempts = 1000;

// The clipboard as the operations see it. The default goes through
// QGuiApplication::clipboard(); tests install one that is "held open".
class ClipboardBackend {
public:
    virtual ~ClipboardBackend() = default;
    virtual bool clear() = 0;
    // format 0: plain text; any other number: that private format.
    virtual bool setText(const QString& text, int format) = 0;
};

// nullptr restores the Qt clipboard.
void setClipboardBackend(ClipboardBackend* backend);

// Empties the clipboard; up to kClipboardAttempts tries, no pause, silent.
void clearClipboard();
// Puts text on the clipboard (format 0 = plain text); up to
// kClipboardAttempts tries. True when the last try succeeded.
bool setClipboardText(const std::string& text, int format = 0);

// The checked rows of a list (a model whose column 0 is the item text and
// whose column k is sub-item k), one line per row, cells padded with blanks
// to the widest cell of their column over all rows and separated by a tab;
// trailing blanks dropped; CR LF after every line. A list without rows
// leaves the clipboard alone. Yields once per measured cell and per row.
void copyListViewToClipboard(const QAbstractItemModel& list);
// The text copyListViewToClipboard puts on the clipboard (nothing: empty).
std::string listViewClipboardText(const QAbstractItemModel& list);

}  // namespace tp
