#include "app/band_view.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QSlider>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>

#include "app/cp1251.h"
#include "app/waterfall.h"
#include "dsp/main_filter.h"

namespace dahlo {

namespace {

QSlider* MakeSlider(const char* name, int low, int high, QWidget* parent) {
    auto* slider = new QSlider(Qt::Horizontal, parent);
    slider->setObjectName(name);
    slider->setRange(low, high);
    slider->setMaximumWidth(160);
    return slider;
}

void SetCell(QTableWidget& table, int row, int column, const QString& text) {
    QTableWidgetItem* item = table.item(row, column);
    if (item == nullptr) {
        item = new QTableWidgetItem;
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        table.setItem(row, column, item);
    }
    if (item->text() != text) item->setText(text);
}

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
    auto* controls = new QHBoxLayout;
    controls->addWidget(new QLabel("Floor", lower));
    floor = MakeSlider("BandFloor", -160, 0, lower);
    controls->addWidget(floor);
    controls->addWidget(new QLabel("Contrast", lower));
    contrast = MakeSlider("BandContrast", 10, 120, lower);
    controls->addWidget(contrast);
    controls->addStretch(1);
    pointer = new QLabel(lower);
    pointer->setObjectName("BandPointer");
    pointer->setMinimumWidth(70);
    controls->addWidget(pointer);
    lowerColumn->addLayout(controls);

    stations = new QTableWidget(0, 5, lower);
    stations->setObjectName("BandStations");
    stations->setHorizontalHeaderLabels({"Pitch", "WPM", "SNR", "Call", "Text"});
    stations->verticalHeader()->hide();
    stations->horizontalHeader()->setStretchLastSection(true);
    stations->setSelectionBehavior(QAbstractItemView::SelectRows);
    stations->setSelectionMode(QAbstractItemView::SingleSelection);
    stations->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (int c = 0; c < 4; ++c) stations->setColumnWidth(c, c == 3 ? 90 : 60);
    lowerColumn->addWidget(stations);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    column->addWidget(splitter);

    floor->setValue(BandSettings{}.floorDb);
    contrast->setValue(BandSettings{}.contrastDb);
    waterfall->SetLevels(floor->value(), contrast->value());
    const auto levels = [this] { waterfall->SetLevels(floor->value(), contrast->value()); };
    connect(floor, &QSlider::valueChanged, this, levels);
    connect(contrast, &QSlider::valueChanged, this, levels);
    connect(waterfall, &Waterfall::Hovered, this, [this](double hz) {
        pointer->setText(hz < 0 ? QString() : QString("%1 Hz").arg(std::lround(hz)));
    });
    connect(waterfall, &Waterfall::TraceClicked, this, &BandView::TuneRequested);
    connect(stations, &QTableWidget::cellDoubleClicked, this,
            [this](int row, int) { RowActivated(row); });
}

void BandView::ApplySettings(const BandSettings& s) {
    const QSize frame = frameGeometry().size() - size();
    const int width = s.width > 0 ? s.width - frame.width() : kDefaultWidth;
    const int height = s.height > 0 ? s.height - frame.height() : kDefaultHeight;
    resize(std::max(200, width), std::max(150, height));
    if (s.left != -1 || s.top != -1) move(s.left != -1 ? s.left : x(), s.top != -1 ? s.top : y());
    floor->setValue(s.floorDb);
    contrast->setValue(s.contrastDb);
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

void BandView::AddSpectrum(const SpectrumState& spectrum, int mainCentreBin) {
    waterfall->AddRow(spectrum);
    waterfall->SetMainCentre(mainCentreBin);
}

void BandView::ShowStations(const std::vector<StationView>& views) {
    std::vector<Waterfall::Trace> traces;
    rowBins_.clear();
    stations->setRowCount(static_cast<int>(views.size()));
    for (int row = 0; row < static_cast<int>(views.size()); ++row) {
        const StationView& v = views[static_cast<std::size_t>(row)];
        rowBins_.push_back(v.centreBin);
        traces.push_back({v.centreBin, QString::fromStdString(v.call)});
        SetCell(*stations, row, 0, QString::number(std::lround(v.centreBin * kHzPerBin)));
        SetCell(*stations, row, 1, QString::number(std::lround(v.wpm)));
        SetCell(*stations, row, 2, QString("%1 dB").arg(std::lround(v.snrDb)));
        SetCell(*stations, row, 3, QString::fromStdString(v.call));
        SetCell(*stations, row, 4, Cp1251ToQString(v.recent));
    }
    waterfall->SetTraces(std::move(traces));
}

void BandView::RowActivated(int row) {
    if (row < 0 || row >= static_cast<int>(rowBins_.size())) return;
    emit TuneRequested(rowBins_[static_cast<std::size_t>(row)]);
}

void BandView::closeEvent(QCloseEvent* event) {
    event->accept();
    emit Closed();
}

}  // namespace dahlo
