#include "app/band_view.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QShortcut>
#include <QSlider>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>
#include <cmath>

#include "app/band_frequency.h"
#include "app/station_table.h"
#include "app/waterfall.h"
#include "dsp/main_filter.h"

namespace dahlo {

namespace {

constexpr int kWaterfallHeight = 230;  // px at the default size; the table gets the rest

enum SpotColumn {
    kSpotTime,
    kSpotFrequency,
    kSpotCall,
    kSpotSnr,
    kSpotWpm,
    kSpotKind,
    kSpotColumns
};

QSlider* MakeSlider(const char* name, int low, int high, QWidget* parent) {
    auto* slider = new QSlider(Qt::Horizontal, parent);
    slider->setObjectName(name);
    slider->setRange(low, high);
    slider->setMaximumWidth(160);
    return slider;
}

QTableView* MakeTable(const char* name, QWidget* parent) {
    auto* table = new QTableView(parent);
    table->setObjectName(name);
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    table->horizontalHeader()->setStretchLastSection(true);
    table->horizontalHeader()->setHighlightSections(false);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setWordWrap(false);
    return table;
}

// The newest whole words of a station's text that fit its cell: a reader wants the end of what
// was sent, not a word cut in half at either side.
class NewestWordsDelegate final : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const int room = option->rect.width() - kCellMarginPx;
        QString text = option->text;
        while (option->fontMetrics.horizontalAdvance(text) > room) {
            const qsizetype space = text.indexOf(' ');
            if (space < 0) break;
            text.remove(0, space + 1);
        }
        option->text = text;
        option->textElideMode = Qt::ElideLeft;  // a single word too long for the cell
    }

  private:
    static constexpr int kCellMarginPx = 8;  // the style's text margins on both sides
};

}  // namespace

BandView::BandView(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("BandView");
    setWindowTitle("Dahlo - Band");
    resize(kDefaultWidth, kDefaultHeight);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(4, 4, 4, 4);
    auto* splitter = new QSplitter(Qt::Vertical, this);
    waterfall = new Waterfall(splitter);

    auto* lower = new QWidget(splitter);
    auto* lowerColumn = new QVBoxLayout(lower);
    lowerColumn->setContentsMargins(0, 0, 0, 0);
    CreateControls(lower, *lowerColumn);
    auto* sideBySide = new QSplitter(Qt::Horizontal, lower);
    CreateStationTable(sideBySide);
    CreateSpotList(sideBySide);
    sideBySide->setStretchFactor(0, 1);
    sideBySide->setStretchFactor(1, 0);
    // The spot list as wide as its columns, the table the rest.
    const int spotsWidth = spots->horizontalHeader()->length() +
                           spots->verticalScrollBar()->sizeHint().width() +
                           2 * spots->frameWidth() + 2;
    sideBySide->setSizes({kDefaultWidth - spotsWidth, spotsWidth});
    lowerColumn->addWidget(sideBySide, 1);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({kWaterfallHeight, kDefaultHeight - kWaterfallHeight});
    column->addWidget(splitter);
    CreateStationMenu();

    for (const QKeySequence& key :
         {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        connect(new QShortcut(key, this), &QShortcut::activated, this, &QWidget::close);
    }
    connect(waterfall, &Waterfall::Hovered, this, [this](double hz) {
        pointer->setText(
            hz < 0 ? QString()
                   : waterfall->FrequencyOf(static_cast<int>(std::lround(hz / kHzPerBin))));
    });
    connect(waterfall, &Waterfall::TraceClicked, this, [this](int channel) {
        SelectStation(channel);
        if (const StationView* station = stationModel->StationOf(channel))
            emit TuneRequested(*station);
    });
    stations->setFocus();
}

void BandView::CreateControls(QWidget* parent, QBoxLayout& layout) {
    auto* controls = new QHBoxLayout;
    controls->addWidget(new QLabel("Floor", parent));
    floor = MakeSlider("BandFloor", -160, 0, parent);
    controls->addWidget(floor);
    floorValue = new QLabel(parent);
    floorValue->setMinimumWidth(fontMetrics().horizontalAdvance("-160 dB") + 6);
    controls->addWidget(floorValue);
    controls->addWidget(new QLabel("Contrast", parent));
    contrast = MakeSlider("BandContrast", 10, 120, parent);
    controls->addWidget(contrast);
    contrastValue = new QLabel(parent);
    contrastValue->setMinimumWidth(fontMetrics().horizontalAdvance("120 dB") + 6);
    controls->addWidget(contrastValue);
    controls->addStretch(1);
    pointer = new QLabel(parent);
    pointer->setObjectName("BandPointer");
    pointer->setMinimumWidth(fontMetrics().horizontalAdvance("14020.00 kHz") + 6);
    controls->addWidget(pointer);
    layout.addLayout(controls);

    floor->setValue(BandSettings{}.floorDb);
    contrast->setValue(BandSettings{}.contrastDb);
    ShowLevels();
    connect(floor, &QSlider::valueChanged, this, &BandView::ShowLevels);
    connect(contrast, &QSlider::valueChanged, this, &BandView::ShowLevels);
}

void BandView::CreateStationTable(QWidget* parent) {
    stationModel = new StationTable(this);
    stationOrder = new QSortFilterProxyModel(this);
    stationOrder->setSourceModel(stationModel);
    stationOrder->setSortRole(StationTable::kSortRole);
    stationOrder->setDynamicSortFilter(true);
    stations = MakeTable("BandStations", parent);
    stations->setModel(stationOrder);
    stations->setSortingEnabled(true);
    stations->sortByColumn(StationTable::kFrequency, Qt::AscendingOrder);
    stations->setItemDelegateForColumn(StationTable::kText, new NewestWordsDelegate(stations));
    const QFontMetrics metrics = stations->fontMetrics();
    const auto widthOf = [&](const char* widest) { return metrics.horizontalAdvance(widest) + 14; };
    stations->setColumnWidth(StationTable::kFrequency, widthOf("14020.00 "));
    stations->setColumnWidth(StationTable::kWpm, widthOf("WPM "));
    stations->setColumnWidth(StationTable::kSnr, widthOf("-10 dB "));
    stations->setColumnWidth(StationTable::kCall, widthOf("VK2ABC/P"));
    stations->setColumnWidth(StationTable::kHeard, widthOf("Heard "));
    stations->setContextMenuPolicy(Qt::CustomContextMenu);
    stations->installEventFilter(this);
    connect(stations, &QTableView::doubleClicked, this, &BandView::TuneRow);
    connect(stations, &QTableView::customContextMenuRequested, this, &BandView::OpenStationMenu);
}

void BandView::CreateSpotList(QWidget* parent) {
    auto* pane = new QWidget(parent);
    auto* paneColumn = new QVBoxLayout(pane);
    paneColumn->setContentsMargins(0, 0, 0, 0);
    spotCall = new QLineEdit(pane);
    spotCall->setObjectName("BandSpotCall");
    spotCall->setPlaceholderText("Spots of every call");
    spotCall->setClearButtonEnabled(true);
    paneColumn->addWidget(spotCall);

    spotModel = new QStandardItemModel(0, kSpotColumns, this);
    spotModel->setHorizontalHeaderLabels({"UTC", "Hz", "Call", "SNR", "WPM", "Kind"});
    spotFilter = new QSortFilterProxyModel(this);
    spotFilter->setSourceModel(spotModel);
    spotFilter->setFilterKeyColumn(kSpotCall);
    spotFilter->setFilterCaseSensitivity(Qt::CaseInsensitive);
    spots = MakeTable("BandSpots", pane);
    spots->setModel(spotFilter);
    const QFontMetrics metrics = spots->fontMetrics();
    const auto widthOf = [&](const char* widest) { return metrics.horizontalAdvance(widest) + 12; };
    spots->setColumnWidth(kSpotTime, widthOf("00:00:00"));
    spots->setColumnWidth(kSpotFrequency, widthOf("14020.00"));
    spots->setColumnWidth(kSpotCall, widthOf("VK2ABC/P"));
    spots->setColumnWidth(kSpotSnr, widthOf("-10 dB"));
    spots->setColumnWidth(kSpotWpm, widthOf("WPM"));
    spots->setColumnWidth(kSpotKind, widthOf("BEACON"));  // the longest SpotKindName
    spots->horizontalHeader()->setStretchLastSection(false);
    paneColumn->addWidget(spots);
    connect(spotCall, &QLineEdit::textChanged, this, [this](const QString& call) {
        spotFilter->setFilterRegularExpression(
            call.trimmed().isEmpty()
                ? QRegularExpression()
                : QRegularExpression(QRegularExpression::anchoredPattern(
                                         QRegularExpression::escape(call.trimmed())),
                                     QRegularExpression::CaseInsensitiveOption));
    });
}

void BandView::CreateStationMenu() {
    stationMenu = new QMenu(this);
    tuneAction = stationMenu->addAction("Tune", this, &BandView::TuneSelected);
    tuneAction->setShortcut(Qt::Key_Return);
    copyCallAction = stationMenu->addAction("Copy call", this, &BandView::CopyCall);
    copyCallAction->setShortcut(QKeySequence::Copy);
    logCallAction = stationMenu->addAction("Send call to logger", this, &BandView::LogCall);
    showSpotsAction = stationMenu->addAction("Show its spots", this, &BandView::ShowSpotsOfCall);
    for (QAction* action : stationMenu->actions()) action->setShortcutContext(Qt::WidgetShortcut);
}

void BandView::ShowLevels() {
    waterfall->SetLevels(floor->value(), contrast->value());
    floorValue->setText(QString("%1 dB").arg(floor->value()));
    contrastValue->setText(QString("%1 dB").arg(contrast->value()));
}

void BandView::ApplySettings(const BandSettings& s) {
    const QSize frame = frameGeometry().size() - size();
    const int width = s.width > 0 ? s.width - frame.width() : kDefaultWidth;
    const int height = s.height > 0 ? s.height - frame.height() : kDefaultHeight;
    resize(std::max(200, width), std::max(150, height));
    if (s.left != -1 || s.top != -1) move(s.left != -1 ? s.left : x(), s.top != -1 ? s.top : y());
    floor->setValue(s.floorDb);
    contrast->setValue(s.contrastDb);
    SetDialHz(s.dialHz);
}

BandSettings BandView::CollectSettings() const {
    BandSettings s;
    s.left = x();
    s.top = y();
    s.width = frameGeometry().width();
    s.height = frameGeometry().height();
    s.floorDb = floor->value();
    s.contrastDb = contrast->value();
    return s;
}

void BandView::SetDialHz(std::int64_t dialHz) {
    stationModel->SetDialHz(dialHz);
    waterfall->SetDialHz(dialHz);
    spotModel->setHorizontalHeaderItem(kSpotFrequency,
                                       new QStandardItem(BandFrequencyUnit(dialHz)));
}

void BandView::AddSpectrum(const SpectrumState& spectrum, int mainCentreBin) {
    waterfall->AddRow(spectrum);
    waterfall->SetMainCentre(mainCentreBin);
}

void BandView::ShowStations(const std::vector<StationView>& views, std::int64_t now) {
    // A selected new row that turns out to be a returning station's leaves: select its old row.
    const StationView* selected = SelectedStation();
    const int selectedChannel = selected != nullptr ? selected->channel : -1;
    stationModel->Update(views, now);
    if (selected != nullptr && SelectedStation() == nullptr) SelectStation(selectedChannel);
    std::vector<Waterfall::Trace> traces;
    traces.reserve(static_cast<std::size_t>(stationModel->rowCount()));
    for (int row = 0; row < stationModel->rowCount(); ++row) {
        const StationView& s = *stationModel->StationAt(row);
        traces.push_back(
            {s.channel, s.centreBin, QString::fromStdString(s.call), stationModel->IsStale(s)});
    }
    waterfall->SetTraces(std::move(traces));
}

const StationView* BandView::SelectedStation() const {
    const QModelIndexList rows = stations->selectionModel()->selectedRows();
    if (rows.isEmpty()) return nullptr;
    return stationModel->StationAt(stationOrder->mapToSource(rows.front()).row());
}

void BandView::SelectStation(int channel) {
    for (int row = 0; row < stationOrder->rowCount(); ++row) {
        const QModelIndex index = stationOrder->index(row, 0);
        if (index.data(StationTable::kChannelRole).toInt() == channel) {
            stations->setCurrentIndex(index);
            stations->selectRow(row);
            return;
        }
    }
}

void BandView::TuneRow(const QModelIndex& index) {
    if (!index.isValid()) return;
    if (const StationView* s = stationModel->StationAt(stationOrder->mapToSource(index).row())) {
        emit TuneRequested(*s);
    }
}

void BandView::TuneSelected() {
    if (const StationView* s = SelectedStation()) emit TuneRequested(*s);
}

void BandView::CopyCall() {
    const StationView* s = SelectedStation();
    if (s != nullptr && !s->call.empty()) {
        QApplication::clipboard()->setText(QString::fromStdString(s->call));
    }
}

void BandView::LogCall() {
    const StationView* s = SelectedStation();
    if (s != nullptr && !s->call.empty()) emit LogCallRequested(QString::fromStdString(s->call));
}

void BandView::ShowSpotsOfCall() {
    const StationView* s = SelectedStation();
    if (s != nullptr) spotCall->setText(QString::fromStdString(s->call));
}

void BandView::OpenStationMenu(const QPoint& at) {
    const QModelIndex index = stations->indexAt(at);
    if (!index.isValid()) return;
    stations->selectRow(index.row());
    const StationView* s = SelectedStation();
    const bool hasCall = s != nullptr && !s->call.empty();
    const QString call = hasCall ? QString::fromStdString(s->call) : QString("no call yet");
    copyCallAction->setEnabled(hasCall);
    logCallAction->setEnabled(hasCall);
    showSpotsAction->setEnabled(hasCall);
    showSpotsAction->setText(QString("Show spots of %1").arg(call));
    // Not modal: blocks keep coming while the menu is open.
    stationMenu->popup(stations->viewport()->mapToGlobal(at));
}

void BandView::OnSpot(const Spot& spot) {
    const std::int64_t dialHz = stationModel->DialHz();
    const QString frequency = dialHz > 0 ? QString::number(spot.freqKhz, 'f', 2)
                                         : QString::number(std::lround(spot.freqKhz * 1000.0));
    QList<QStandardItem*> items = {
        new QStandardItem(QDateTime::fromSecsSinceEpoch(spot.utc, Qt::UTC).toString("HH:mm:ss")),
        new QStandardItem(frequency),
        new QStandardItem(QString::fromStdString(spot.call)),
        new QStandardItem(QString("%1 dB").arg(spot.snrDb)),
        new QStandardItem(QString::number(spot.wpm)),
        new QStandardItem(SpotKindName(spot.kind)),
    };
    for (QStandardItem* item : items) item->setEditable(false);
    spotModel->insertRow(0, items);
    if (spotModel->rowCount() > kSpotRows) spotModel->removeRow(spotModel->rowCount() - 1);
}

bool BandView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == stations && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            TuneRow(stations->currentIndex());
            return true;
        }
        if (key->matches(QKeySequence::Copy)) {
            CopyCall();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void BandView::closeEvent(QCloseEvent* event) {
    event->accept();
    emit Closed();
}

}  // namespace dahlo
