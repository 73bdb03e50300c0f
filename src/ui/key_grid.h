#pragma once

#include <QFont>
#include <QString>
#include <QStringList>
#include <QTableWidget>

#include "keys/key_insight.h"
#include "setup/setup_record.h"

namespace qk750 {

// The cell text: t (the text trimmed) centred in width by the pad table, or the text
// unchanged when t fills the width.
QString CenterCellText(const QString& text, int width);

// The text a cell shows for a key string: compact (centred, or the last 15 characters)
// or whole.
QString cellTextFor(const QString& keyString, bool compact);

// The cells' font, 8 point, chosen among the installed families: a narrow sans face
// ("Arial Narrow", else its metric twin "Liberation Sans Narrow"), else a plain sans face
// drawn condensed to about their width. Never a serif face: a bare family name that is
// not installed would leave the choice to the system, which may give one.
QFont gridFont(const QStringList& installedFamilies);

// The grid of the 84 keys: each cell shows its key string in the compact form or whole,
// and is marked, with its lengths as tooltip, when a string is too long for the keyboard.
class KeyGrid : public QTableWidget {
    Q_OBJECT

public:
    // The widest key string a compact cell shows.
    static constexpr int kCellWidth = 15;

    KeyGrid(const SetupRecord& setup, QWidget* parent = nullptr);

    // Shows the key string of the cell's key; cells outside the grid are ignored.
    void drawCell(int column, int row, bool compact);
    QString cellText(int column, int row) const;
    // The cell shows its text in the compact form (or the text is short enough for both).
    bool showsCompact(int column, int row) const;

    // The current key, 1-84.
    int currentKey() const;
    void selectKey(int key);
    // The current cell, the first one when there is none.
    int currentColumnOrFirst() const;
    int currentRowOrFirst() const;

    // Marks the key's cell by its compiled lengths, or as the key where the string area
    // overflows.
    void markKey(int key);
    void markKey(int key, const KeyLengths& lengths);
    void markAllKeys();
    // The key at which the string area is full (0: none); marked like a key too long.
    void setMemoryFullKey(int key);

private:
    const SetupRecord& m_setup;
    int m_memoryFullKey = 0;
};

}  // namespace qk750
