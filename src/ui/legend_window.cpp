#include "ui/legend_window.h"

#include <QApplication>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

#include "app/key_text.h"
#include "sheet/legend_sheet.h"
#include "ui/prompts.h"
#include "ui/window_support.h"

namespace qk750 {

namespace {

const QColor kOwnLegendGround(0xd4, 0xe6, 0xff);
const QColor kSelectionColour(0x20, 0x60, 0xd0);

QString quoted(const std::string& text) {
    return QStringLiteral("\u201c") + keyText(text) + QStringLiteral("\u201d");
}

// One layer of an insert in words: what it shows and where that comes from.
QString describeLayer(const InsertLegend& legend, const QString& layer) {
    if (legend.own) {
        return layer + quoted(legend.text) + QStringLiteral(", your own (cleared, it is ") +
               (legend.derived.empty() ? QStringLiteral("empty") : quoted(legend.derived)) +
               QLatin1Char(')');
    }
    if (legend.text.empty()) {
        return layer + QStringLiteral("empty");
    }
    return layer + quoted(legend.text) + QStringLiteral(", from the key string");
}

}  // namespace

// The page in the window: the sheet drawn as it prints, scaled to the widget, with a
// person's own legends, cut legends and the selection marked.
class LegendSheetView : public QWidget {
public:
    explicit LegendSheetView(QWidget* parent) : QWidget(parent) {
        setFocusPolicy(Qt::StrongFocus);
        setMinimumSize(640, 460);
    }

    std::function<void()> selectionMoved;
    std::function<void()> editRequested;
    std::function<void()> clearRequested;
    std::function<QString(int key)> describe;

    void setSheet(const LegendSheet* sheet) {
        m_sheet = sheet;
        update();
    }
    int selectedKey() const { return m_selected; }
    void setSelectedKey(int key) {
        m_selected = std::clamp(key, 1, kKeyCount);
        update();
        if (selectionMoved) {
            selectionMoved();
        }
    }

    // The insert's rectangle in widget pixels.
    QRectF insertOnScreen(int key) const {
        const QRectF mm = m_sheet->insertRect(key);
        return QRectF(origin() + mm.topLeft() * scale(), mm.size() * scale());
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(0x80, 0x80, 0x80));
        if (m_sheet == nullptr) {
            return;
        }
        const QSizeF page = m_sheet->pageMillimetres();
        painter.fillRect(QRectF(origin(), page * scale()), Qt::white);
        painter.translate(origin());
        // The sheet draws at the device's resolution; this scales that to the window.
        const double toScreen = scale() / (logicalDpiX() / 25.4);
        painter.scale(toScreen, toScreen);
        const double pixel = 1 / toScreen;
        m_sheet->paint(painter, [&](QPainter& p, int key, const QRectF& insert) {
            const SheetInsert& shown = m_sheet->insert(key);
            if (shown.legends.key.own || shown.legends.func2.own) {
                p.fillRect(insert, kOwnLegendGround);
            }
            if (shown.cut()) {
                p.setPen(QPen(kWarningColour, 3 * pixel));
                p.drawRect(insert.adjusted(pixel, pixel, -pixel, -pixel));
            }
            if (key == m_selected) {
                p.setPen(QPen(kSelectionColour, 2 * pixel));
                p.setBrush(Qt::NoBrush);
                const double out = 3 * pixel;
                p.drawRect(insert.adjusted(-out, -out, out, out));
            }
        });
    }

    void mousePressEvent(QMouseEvent* event) override {
        setFocus();
        const int key = keyAt(event->position());
        if (key == 0 || event->button() != Qt::LeftButton) {
            return;
        }
        setSelectedKey(key);
        if (editRequested) {
            editRequested();
        }
    }

    void keyPressEvent(QKeyEvent* event) override {
        const int row = keyRow(m_selected);
        const int column = keyColumn(m_selected);
        switch (event->key()) {
            case Qt::Key_Left:
                setSelectedKey(keyAt(row, std::max(column - 1, 0)));
                break;
            case Qt::Key_Right:
                setSelectedKey(keyAt(row, std::min(column + 1, kGridColumns - 1)));
                break;
            case Qt::Key_Up:
                setSelectedKey(keyAt(std::max(row - 1, 0), column));
                break;
            case Qt::Key_Down:
                setSelectedKey(keyAt(std::min(row + 1, kGridRows - 1), column));
                break;
            case Qt::Key_Return:
            case Qt::Key_Enter:
            case Qt::Key_F2:
                editRequested ? editRequested() : void();
                break;
            case Qt::Key_Delete:
            case Qt::Key_Backspace:
                clearRequested ? clearRequested() : void();
                break;
            default:
                QWidget::keyPressEvent(event);  // Esc closes the window
                return;
        }
        event->accept();
    }

    bool event(QEvent* event) override {
        if (event->type() == QEvent::ToolTip && describe) {
            auto* help = static_cast<QHelpEvent*>(event);
            const int key = keyAt(help->pos());
            key != 0 ? QToolTip::showText(help->globalPos(), describe(key), this)
                     : QToolTip::hideText();
            return true;
        }
        return QWidget::event(event);
    }

private:
    static int keyAt(int row, int column) { return qk750::keyAt(row, column); }

    // Pixels per millimetre: the whole page in the widget, a little room around it.
    double scale() const {
        const QSizeF page = m_sheet->pageMillimetres();
        return std::min((width() - 16) / page.width(), (height() - 16) / page.height());
    }
    QPointF origin() const {
        const QSizeF page = m_sheet->pageMillimetres() * scale();
        return QPointF((width() - page.width()) / 2, (height() - page.height()) / 2);
    }
    int keyAt(const QPointF& position) const {
        for (int key = 1; key <= kKeyCount; ++key) {
            if (insertOnScreen(key).contains(position)) {
                return key;
            }
        }
        return 0;
    }

    const LegendSheet* m_sheet = nullptr;
    int m_selected = 1;
};

LegendWindow::LegendWindow(ProgramState& state, Prompts& prompts, QWidget* owner)
    : QDialog(nullptr), m_state(state), m_prompts(prompts), m_owner(owner) {
    setObjectName(QStringLiteral("legendWindow"));
    setWindowTitle(QStringLiteral("Key Legends"));
    setModal(false);
    buildControls();
    rebuildSheet();
    resize(1040, 780);
}

LegendWindow::~LegendWindow() = default;

void LegendWindow::buildControls() {
    auto* layout = new QVBoxLayout(this);

    auto* settings = new QHBoxLayout;
    const auto sizeBox = [this, settings](const QString& name, const QString& caption, double min,
                                          double max, double step, double* field) {
        auto* label = new QLabel(caption, this);
        auto* box = new QDoubleSpinBox(this);
        box->setObjectName(name);
        box->setRange(min, max);
        box->setDecimals(2);
        box->setSingleStep(step);
        box->setSuffix(QStringLiteral(" mm"));
        label->setBuddy(box);
        settings->addWidget(label);
        settings->addWidget(box);
        connect(box, &QDoubleSpinBox::valueChanged, this, [this, field](double value) {
            if (*field != value) {
                *field = value;
                rebuildSheet();
            }
        });
        return box;
    };
    LegendRec& legends = m_state.Setup.Legends;
    m_widthBox = sizeBox(QStringLiteral("insertWidthBox"), QStringLiteral("Insert &width:"),
                         kMinInsertSize, kMaxInsertSize, 0.5, &legends.InsertWidth);
    m_heightBox = sizeBox(QStringLiteral("insertHeightBox"), QStringLiteral("&height:"),
                          kMinInsertSize, kMaxInsertSize, 0.5, &legends.InsertHeight);
    m_gapBox = sizeBox(QStringLiteral("gapBox"), QStringLiteral("&Gap:"), 0, kMaxInsertGap, 0.05,
                       &legends.InsertGap);
    m_paperLabel = new QLabel(this);
    m_paperLabel->setObjectName(QStringLiteral("paperLabel"));
    settings->addSpacing(16);
    settings->addWidget(m_paperLabel);
    settings->addStretch();
    layout->addLayout(settings);

    m_view = new LegendSheetView(this);
    m_view->setObjectName(QStringLiteral("legendSheet"));
    m_view->selectionMoved = [this] {
        m_notice.clear();
        showStatus();
    };
    m_view->editRequested = [this] { editSelected(); };
    m_view->clearRequested = [this] { clearOwnLegends(selectedKey()); };
    m_view->describe = [this](int key) {
        const SheetInsert& insert = m_sheet->insert(key);
        QString text = QStringLiteral("Key %1: ").arg(key) +
                       describeLayer(insert.legends.key, QString()) +
                       describeLayer(insert.legends.func2, QStringLiteral("; Func2: "));
        if (insert.cut()) {
            text += QStringLiteral(". Too long for the insert: cut to fit");
        }
        return text + QLatin1Char('.');
    };
    layout->addWidget(m_view, 1);

    m_editor = new QFrame(m_view);
    m_editor->setObjectName(QStringLiteral("legendEditor"));
    m_editor->setFrameStyle(QFrame::Box | QFrame::Plain);
    m_editor->setAutoFillBackground(true);
    auto* editorLayout = new QVBoxLayout(m_editor);
    editorLayout->setContentsMargins(2, 2, 2, 2);
    editorLayout->setSpacing(2);
    m_func2LegendEdit = new QLineEdit(m_editor);
    m_func2LegendEdit->setObjectName(QStringLiteral("func2LegendEdit"));
    m_legendEdit = new QLineEdit(m_editor);
    m_legendEdit->setObjectName(QStringLiteral("legendEdit"));
    // The Func2 legend sits above the key's own, as on the insert.
    editorLayout->addWidget(m_func2LegendEdit);
    editorLayout->addWidget(m_legendEdit);
    for (QLineEdit* edit : {m_legendEdit, m_func2LegendEdit}) {
        edit->installEventFilter(this);
        acceptKeyTextOnly(edit, [this](const QString& character) {
            m_notice = refusedCharacterHint(character).replace(QStringLiteral("key strings"),
                                                               QStringLiteral("legends"));
            showStatus();
        });
    }
    m_editor->hide();

    m_statusLabel = new QLabel(this);
    m_statusLabel->setObjectName(QStringLiteral("legendStatus"));
    m_statusLabel->setWordWrap(true);
    layout->addWidget(m_statusLabel);
    m_warningLabel = new QLabel(this);
    m_warningLabel->setObjectName(QStringLiteral("legendWarning"));
    m_warningLabel->setWordWrap(true);
    layout->addWidget(m_warningLabel);
    auto* hint = new QLabel(
        QStringLiteral("A click or Enter edits an insert, Esc cancels, Delete gives it back the "
                       "key string's legend. Blue: a legend of your own. Orange frame: cut to "
                       "fit."),
        this);
    hint->setWordWrap(true);
    layout->addWidget(hint);

    auto* buttons = new QHBoxLayout;
    const auto button = [this, buttons](const QString& name, const QString& caption) {
        auto* created = new QPushButton(caption, this);
        created->setObjectName(name);
        // Enter belongs to the inserts: no button takes it.
        created->setAutoDefault(false);
        buttons->addWidget(created);
        return created;
    };
    m_printButton = button(QStringLiteral("printButton"), QStringLiteral("&Print..."));
    m_exportButton = button(QStringLiteral("exportButton"), QStringLiteral("&Export PDF..."));
    buttons->addStretch();
    QPushButton* close = button(QStringLiteral("closeButton"), QStringLiteral("&Close"));
    layout->addLayout(buttons);
    connect(m_printButton, &QPushButton::clicked, this, &LegendWindow::printSheet);
    connect(m_exportButton, &QPushButton::clicked, this, &LegendWindow::exportPdf);
    connect(close, &QPushButton::clicked, this, &LegendWindow::reject);
}

void LegendWindow::refresh() {
    finishEditing(false);
    m_notice.clear();
    const LegendRec& legends = m_state.Setup.Legends;
    for (const auto& [box, value] : {std::pair{m_widthBox, legends.InsertWidth},
                                     {m_heightBox, legends.InsertHeight},
                                     {m_gapBox, legends.InsertGap}}) {
        const QSignalBlocker quiet(box);
        box->setValue(value);
        box->setEnabled(!locked());
    }
    rebuildSheet();
}

void LegendWindow::rebuildSheet() {
    m_sheet = std::make_unique<LegendSheet>(m_state.Setup, setupName());
    m_view->setSheet(m_sheet.get());
    m_paperLabel->setText(m_sheet->pageSize().name() + QStringLiteral(", landscape"));
    const QString problem = m_sheet->fitProblem();
    m_printButton->setEnabled(problem.isEmpty());
    m_exportButton->setEnabled(problem.isEmpty());
    QString warning = problem;
    QColor colour = kErrorColour;
    if (problem.isEmpty()) {
        QStringList keys;
        for (const int key : m_sheet->cutKeys()) {
            keys << QString::number(key);
        }
        colour = kWarningColour;
        if (!keys.isEmpty()) {
            warning = QStringLiteral(
                          "Too long for the insert, cut to fit: key %1. Shorten the "
                          "legend or make the insert larger.")
                          .arg(keys.join(QStringLiteral(", ")));
        }
    }
    m_warningLabel->setStyleSheet(QStringLiteral("color: %1;").arg(colour.name()));
    m_warningLabel->setText(warning);
    showStatus();
}

int LegendWindow::selectedKey() const {
    return m_view->selectedKey();
}

void LegendWindow::selectKey(int key) {
    finishEditing(true);
    m_view->setSelectedKey(key);
}

QRectF LegendWindow::insertOnScreen(int key) const {
    return m_view->insertOnScreen(key);
}

bool LegendWindow::editing() const {
    return m_editedKey != 0;
}

bool LegendWindow::locked() const {
    return m_state.Setup.Mcr.LockedSetup;
}

void LegendWindow::editSelected() {
    if (locked()) {
        m_notice = QStringLiteral(
            "The setup is locked: unlock it in the main window to change "
            "legends.");
        showStatus();
        return;
    }
    finishEditing(true);
    m_editedKey = selectedKey();
    const InsertLegends& legends = m_sheet->insert(m_editedKey).legends;
    m_editStartKey = keyText(legends.key.text);
    m_editStartFunc2 = keyText(legends.func2.text);
    m_legendEdit->setText(m_editStartKey);
    m_legendEdit->setPlaceholderText(QStringLiteral("Legend"));
    m_func2LegendEdit->setText(m_editStartFunc2);
    m_func2LegendEdit->setPlaceholderText(QStringLiteral("Func2 legend"));

    const QRectF insert = m_view->insertOnScreen(m_editedKey);
    const QSize size(std::max(qRound(insert.width()), 170), m_editor->sizeHint().height());
    QRect place(QPoint(), size);
    place.moveCenter(insert.center().toPoint());
    place.moveLeft(std::clamp(place.left(), 0, std::max(m_view->width() - size.width(), 0)));
    place.moveTop(std::clamp(place.top(), 0, std::max(m_view->height() - size.height(), 0)));
    m_editor->setGeometry(place);
    m_editor->show();
    m_editor->raise();
    m_legendEdit->setFocus();
    m_legendEdit->selectAll();
    showStatus();
}

void LegendWindow::finishEditing(bool keep) {
    if (!editing()) {
        return;
    }
    const int key = m_editedKey;
    m_editedKey = 0;
    m_editor->hide();
    if (keep) {
        const InsertLegends& legends = m_sheet->insert(key).legends;
        // An unchanged line changes nothing; an emptied one, or one saying what the key
        // string says anyway, gives the insert back its derived legend.
        const auto take = [](std::string& own, const QString& start, const QLineEdit* line,
                             const std::string& derived) {
            const std::string text = keyStringBytes(trimBlanks(line->text()).simplified());
            if (keyText(text) != start) {
                own = text == derived ? std::string() : text;
            }
        };
        LegendRec& stored = m_state.Setup.Legends;
        take(stored.Key[key], m_editStartKey, m_legendEdit, legends.key.derived);
        take(stored.Func2[key], m_editStartFunc2, m_func2LegendEdit, legends.func2.derived);
        rebuildSheet();
    }
    m_view->setFocus();
    showStatus();
}

void LegendWindow::clearOwnLegends(int key) {
    if (locked()) {
        editSelected();  // says why not
        return;
    }
    m_state.Setup.Legends.Key[key].clear();
    m_state.Setup.Legends.Func2[key].clear();
    rebuildSheet();
}

QString LegendWindow::statusText() const {
    return m_statusLabel->text();
}

void LegendWindow::showStatus() {
    m_statusLabel->setText(m_notice.isEmpty() ? m_view->describe(selectedKey()) : m_notice);
}

QString LegendWindow::setupName() const {
    const QString name = QFileInfo(pathText(m_state.SetupFileName)).fileName();
    return name.compare(QStringLiteral(".INI"), Qt::CaseInsensitive) == 0
               ? QStringLiteral("Setup not saved yet")
               : name;
}

void LegendWindow::printSheet() {
    finishEditing(true);
#ifdef _WIN32
    // Windows' print dialog does not even open without a printer: say why nothing happens.
    if (QPrinterInfo::availablePrinterNames().isEmpty()) {
        m_prompts.error(
            QStringLiteral("No printer is installed.\r\rExport PDF... writes the "
                           "sheet into a file that can be printed later."));
        return;
    }
#endif
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageSize(m_sheet->pageSize());
    printer.setPageOrientation(QPageLayout::Landscape);
    printer.setFullPage(true);
    printer.setDocName(QStringLiteral("Key legends - ") + setupName());
    if (!m_prompts.choosePrinter(printer)) {
        return;
    }
    // The sheet is laid out across the page, on whatever paper was chosen.
    printer.setPageOrientation(QPageLayout::Landscape);
    const LegendSheet sheet(m_state.Setup, setupName(), printer.pageLayout().pageSize());
    if (const QString problem = sheet.fitProblem(); !problem.isEmpty()) {
        m_prompts.error(problem);
        return;
    }
    QPainter painter;
    if (!painter.begin(&printer)) {
        m_prompts.error(QStringLiteral("The printer could not be started."));
        return;
    }
    sheet.paint(painter);
    painter.end();
    m_notice = QStringLiteral("The legend sheet went to the printer.");
    showStatus();
}

void LegendWindow::exportPdf() {
    finishEditing(true);
    const QFileInfo setupFile(pathText(m_state.SetupFileName));
    FileDialogRequest request;
    request.objectName = QStringLiteral("exportDialog");
    request.defaultSuffix = QStringLiteral("pdf");
    request.initialFile = setupFile.completeBaseName() + QStringLiteral("-legends.pdf");
    request.directory = setupFile.absolutePath();
    request.filter = QStringLiteral("PDF files|*.pdf");
    request.save = true;
    const QString path = m_prompts.fileName(request);
    if (path.isEmpty()) {
        return;
    }
    if (QFileInfo::exists(path) &&
        !m_prompts.askYesNo(QDir::toNativeSeparators(path) +
                            QStringLiteral(" already exists.\r\rReplace it?"))) {
        return;
    }
    const QString error = writeLegendPdf(*m_sheet, path);
    if (!error.isEmpty()) {
        m_prompts.error(QStringLiteral("Cannot write ") + QDir::toNativeSeparators(path) +
                        QStringLiteral("\r\r") + error);
        return;
    }
    m_notice = QStringLiteral("The legend sheet was saved in ") + QDir::toNativeSeparators(path);
    showStatus();
}

void LegendWindow::showEvent(QShowEvent* event) {
    placeOwned(this, m_owner);
    m_view->setFocus();
    QDialog::showEvent(event);
}

void LegendWindow::reject() {
    finishEditing(true);
    QDialog::reject();
}

bool LegendWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter) {
            finishEditing(key != Qt::Key_Escape);
            return true;
        }
        if (key == Qt::Key_Tab || key == Qt::Key_Backtab) {
            (watched == m_legendEdit ? m_func2LegendEdit : m_legendEdit)
                ->setFocus(Qt::TabFocusReason);
            return true;
        }
    }
    if (event->type() == QEvent::FocusOut && editing()) {
        // Focus going anywhere but the other line of the editor ends the edit, kept.
        QTimer::singleShot(0, this, [this] {
            if (editing() && !m_editor->isAncestorOf(QApplication::focusWidget())) {
                finishEditing(true);
            }
        });
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace qk750
