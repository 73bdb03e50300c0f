#include "ui/key_grid.h"

#include <QFontDatabase>
#include <QHeaderView>

#include <algorithm>
#include <array>
#include <utility>

#include "app/key_text.h"
#include "ui/window_support.h"

namespace qk750 {

namespace {

constexpr std::array<int, 14> kCellPadTable = {1, 3, 4, 6, 6, 8, 9, 10, 12, 14, 13, 15, 16, 16};
constexpr int kCellPixelsWide = 81;
constexpr int kCellPixelsHigh = 36;

const QColor kTooLongBackground(0xff, 0xd8, 0xd8);

// Arial Narrow is about 82% as wide as Arial.
constexpr int kNarrowStretch = 82;

}  // namespace

QFont gridFont(const QStringList& installedFamilies) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(8);
    font.setStyleHint(QFont::SansSerif);
    for (const char* narrow : {"Arial Narrow", "Liberation Sans Narrow"}) {
        if (installedFamilies.contains(QLatin1String(narrow), Qt::CaseInsensitive)) {
            font.setFamily(QLatin1String(narrow));
            return font;
        }
    }
    // Windows always has Arial and Tahoma; Linux has Liberation Sans or DejaVu Sans.
    for (const char* sans : {"Arial", "Liberation Sans", "Tahoma", "DejaVu Sans"}) {
        if (installedFamilies.contains(QLatin1String(sans), Qt::CaseInsensitive)) {
            font.setFamily(QLatin1String(sans));
            break;
        }
    }
    font.setStretch(kNarrowStretch);
    return font;
}

QString CenterCellText(const QString& text, int width) {
    const QString trimmed = trimBlanks(text);
    if (trimmed.size() >= width) {
        return text;
    }
    const auto pad = static_cast<std::size_t>((width - trimmed.size()) / 2);
    const int spaces = kCellPadTable.at(std::min(pad, kCellPadTable.size() - 1));
    return QString(spaces, QLatin1Char(' ')) + trimmed;
}

QString cellTextFor(const QString& keyString, bool compact) {
    constexpr int width = KeyGrid::kCellWidth;
    QString text = keyString;
    if (compact || keyString.size() < width) {
        text =
            keyString.size() <= width ? CenterCellText(keyString, width) : keyString.right(width);
    }
    // A TAB would move the rest to the next tab stop, beyond the cell: every control
    // character shows as a blank, one for one, as the key line shows it.
    for (QChar& c : text) {
        if (c.unicode() < ' ') {
            c = QLatin1Char(' ');
        }
    }
    return text;
}

KeyGrid::KeyGrid(const SetupRecord& setup, QWidget* parent)
    : QTableWidget(kGridRows, kGridColumns, parent), m_setup(setup) {
    horizontalHeader()->hide();
    verticalHeader()->hide();
    horizontalHeader()->setMinimumSectionSize(10);
    verticalHeader()->setMinimumSectionSize(10);
    horizontalHeader()->setDefaultSectionSize(kCellPixelsWide);
    verticalHeader()->setDefaultSectionSize(kCellPixelsHigh);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setTextElideMode(Qt::ElideNone);
    setWordWrap(false);
    setShowGrid(true);
    setTabKeyNavigation(false);
    setFont(gridFont(QFontDatabase::families()));
    for (int row = 0; row < kGridRows; ++row) {
        for (int column = 0; column < kGridColumns; ++column) {
            auto* cell = new QTableWidgetItem(CenterCellText(QString(), kCellWidth));
            cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            cell->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            setItem(row, column, cell);
        }
    }
    resize(kGridColumns * kCellPixelsWide + 2, kGridRows * kCellPixelsHigh + 2);
}

void KeyGrid::drawCell(int column, int row, bool compact) {
    if (row < 0 || row >= kGridRows || column < 0 || column >= kGridColumns) {
        return;
    }
    const QString keyString = keyText(m_setup.KeyStrings[keyAt(row, column)]);
    item(row, column)->setText(cellTextFor(keyString, compact));
}

QString KeyGrid::cellText(int column, int row) const {
    const QTableWidgetItem* cell = item(row, column);
    return cell != nullptr ? cell->text() : QString();
}

bool KeyGrid::showsCompact(int column, int row) const {
    return cellText(column, row).size() <= kCellWidth;
}

int KeyGrid::currentKey() const {
    return keyAt(currentRowOrFirst(), currentColumnOrFirst());
}

void KeyGrid::selectKey(int key) {
    if (key >= 1 && key <= kKeyCount) {
        setCurrentCell(keyRow(key), keyColumn(key));
    }
}

int KeyGrid::currentColumnOrFirst() const {
    return std::max(0, currentColumn());
}

int KeyGrid::currentRowOrFirst() const {
    return std::max(0, currentRow());
}

void KeyGrid::markKey(int key) {
    markKey(key, compiledLengths(m_setup, key));
}

void KeyGrid::markKey(int key, const KeyLengths& lengths) {
    QTableWidgetItem* cell = item(keyRow(key), keyColumn(key));
    cell->setToolTip(latin1(keyLengthsTooltip(lengths)));
    if (lengths.tooLong() || key == m_memoryFullKey) {
        cell->setForeground(kErrorColour);
        cell->setBackground(kTooLongBackground);
    } else {
        cell->setData(Qt::ForegroundRole, QVariant());
        cell->setData(Qt::BackgroundRole, QVariant());
    }
}

void KeyGrid::setMemoryFullKey(int key) {
    const int previous = std::exchange(m_memoryFullKey, key);
    if (previous == key) {
        return;
    }
    for (const int changed : {previous, key}) {
        if (changed >= 1 && changed <= kKeyCount) {
            markKey(changed);
        }
    }
}

void KeyGrid::markAllKeys() {
    const auto lengths = allCompiledLengths(m_setup);
    for (int key = 1; key <= kKeyCount; ++key) {
        markKey(key, lengths[static_cast<std::size_t>(key)]);
    }
}

}  // namespace qk750
