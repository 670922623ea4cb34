#include "app/mainwindow.h"

#include "app/lightwidget.h"
#include "app/settingstab.h"
#include "app/widgetprompts.h"
#include "platform/docengine/view/resultbox.h"
#include "util/fileutil.h"
#include "printers/printerspage.h"
#include "testprint/testingpage.h"
#include "util/codepage.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QTabWidget>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QVBoxLayout>

namespace {

constexpr int kImagePanelWidth = 169;

// The fixed picture of the left panel: a printer with a page coming out.
QPixmap PrinterPicture()
{
    QPixmap pixmap(167, 168);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 40, 40), 2));
    p.setBrush(QColor(250, 250, 250));
    p.drawRect(QRectF(48, 12, 72, 56));  // paper in
    p.setBrush(QColor(120, 130, 145));
    p.drawRoundedRect(QRectF(14, 60, 140, 62), 8, 8);  // body
    p.setBrush(QColor(80, 88, 100));
    p.drawRect(QRectF(30, 104, 108, 10));  // slot
    p.setBrush(QColor(250, 250, 250));
    p.drawRect(QRectF(40, 108, 88, 52));  // report out
    p.setPen(QPen(QColor(150, 150, 150), 2));
    for (int y = 120; y < 156; y += 8)
        p.drawLine(QPointF(50, y), QPointF(118, y));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 160, 0));
    p.drawEllipse(QRectF(132, 70, 10, 10));
    return pixmap;
}

// The queue counters: light digits on a dark field, readable at a glance
// (well above the 4.5:1 contrast that small text needs).
QLabel* Counter()
{
    auto* label = new QLabel(QStringLiteral("0000"));
    label->setAlignment(Qt::AlignCenter);
    QFont font = label->font();
    font.setPixelSize(20);
    label->setFont(font);
    label->setAutoFillBackground(true);
    label->setMinimumHeight(label->sizeHint().height());
    QPalette pal = label->palette();
    pal.setColor(QPalette::Window, QColor(0x3c, 0x3c, 0x3c));
    pal.setColor(QPalette::WindowText, Qt::white);
    label->setPalette(pal);
    return label;
}

QLabel* ItalicLabel(const char* text)
{
    auto* label = new QLabel(QString::fromLatin1(text));
    QFont font = label->font();
    font.setItalic(true);
    font.setPointSize(10);
    label->setFont(font);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

}  // namespace

bool TPrintServerForm::HasDisplay()
{
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

TPrintServerForm::TPrintServerForm(const std::string& programDir, TPrompts* prompts, const TProgramEnvironment& env,
                                   QWidget* parent)
    : QWidget(parent),
      FServer(std::make_unique<TPrintServer>(programDir, env)),
      FOverlayList(FServer->Pipeline().Overlays(), [this]() -> TPrompts& { return FServer->Prompts(); }),
      FPrinterActions({FServer->Printers(), FServer->Settings(), FOverlayList,
                       [this]() -> TPrompts& { return FServer->Prompts(); },
                       [this] { return FServer->InstalledPrinters(); }, [this] { FServer->UpdateButtonClick(); }}),
      FTestPrint({FServer->Pipeline(), FServer->Config(), FServer->Printers(),
                  [this]() -> TPrompts& { return FServer->Prompts(); }, FServer->Log()})
{
    setWindowTitle(QStringLiteral("TovaORB Print Server"));
    FServer->MirrorLogToStderr(!HasDisplay());
    if (prompts) {
        FServer->SetPrompts(*prompts);
    } else if (HasDisplay()) {
        FOwnPrompts = std::make_unique<TWidgetPrompts>(this);
        FServer->SetPrompts(*FOwnPrompts);
    }

    BuildLeftPanel();
    BuildResultPanel();
    Splitter1 = new QSplitter(Qt::Horizontal);
    Splitter1->addWidget(ImagePanel);
    Splitter1->addWidget(ResultPanel);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({kImagePanelWidth, 578 - kImagePanelWidth});
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Splitter1);
    resize(578, 326);
    setMinimumHeight(266);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    FServer->Log().SetOnChanged([this] { ShowLog(); });
    FServer->Indicators().OnLightChanged = [this](TLight light) { ShowLight(light); };
    FServer->Indicators().OnCountersChanged = [this] { ShowCounters(); };
    connect(FServer.get(), &TPrintServer::PrintersChanged, PrinterPage, &TPrintersPage::Refresh);
    DocumentEngine& engine = FServer->Pipeline().Engine();
    engine.OnError = [this](TEngineErrorEvent& event) { ResultBoxError(event); };
    // Many edits make one repaint, once the event loop runs again.
    engine.OnChanged = [this] {
        if (!FViewRefreshQueued) {
            FViewRefreshQueued = true;
            QTimer::singleShot(0, this, [this] {
                FViewRefreshQueued = false;
                ResultBox->Refresh();
            });
        }
    };
    connect(Button1, &QPushButton::clicked, this, &TPrintServerForm::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TPrintServerForm::Button2Click);
    FServer->Pipeline().SetWindow(this);

    FServer->Pipeline().Start();  // ticks from the moment the window exists

    setWindowTitle(QString::fromLatin1(TPrintServer::kCaption));
    FStartedUp = FServer->StartUp();
    // The captions name the file; the folder (the temporary directory) is in the hint.
    Button1->setText(QStringLiteral("Save as \"scrib.pdf\""));
    Button1->setToolTip(ToUnicode(FServer->Config().TempDir + "scrib.pdf"));
    Button2->setText(QStringLiteral("Save as \"scrib.txw\""));
    Button2->setToolTip(ToUnicode(FServer->Config().TempDir + "scrib.txw"));
    if (FStartedUp) {
        OptionPages->setCurrentWidget(PrinterPage);
        // The default printer's entry is the one being edited.
        FPrinterActions.ShowPrinterEntry(TPrinterActions::TSender::PrinterList);
        PrinterPage->Refresh();
    }
    else
        FServer->Pipeline().Stop();
}

TPrintServerForm::~TPrintServerForm()
{
    FServer->Pipeline().SetWindow(nullptr);
}

bool TPrintServerForm::DocumentViewShown() const
{
    return OptionPages->isHidden();
}

void TPrintServerForm::ShowPrintDialog(std::string_view document, std::string_view printer)
{
    // Its answer changes nothing: the report is printed either way.
    static_cast<void>(FServer->Prompts().PrintDialog(document, printer));
}

void TPrintServerForm::Beep()
{
    QApplication::beep();
}

void TPrintServerForm::BuildLeftPanel()
{
    ImagePanel = new QWidget;
    ImagePanel->setMinimumWidth(0);
    ImagePanel->installEventFilter(this);

    FPicture = PrinterPicture();
    PrintingImage = new QLabel(ImagePanel);
    PrintingImage->setScaledContents(false);
    PrintingImage->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    QueuePanel = new QWidget(ImagePanel);
    Startstopbutton = new QPushButton(QStringLiteral("Stop"));
    connect(Startstopbutton, &QPushButton::clicked, this, &TPrintServerForm::StartstopbuttonClick);
    PrintQueue = Counter();
    LPRQueue = Counter();
    SpoolLight = new TLightWidget;
    ConvertLight = new TLightWidget;
    PrintingLight = new TLightWidget;
    LPRLight = new TLightWidget;
    HideScribButton = new QPushButton(QStringLiteral("Hide SCRIB "));
    HideScribButton->hide();
    connect(HideScribButton, &QPushButton::clicked, this, &TPrintServerForm::HideScribButtonClick);
    Button1 = new QPushButton;
    Button2 = new QPushButton;

    auto* counters = new QGridLayout;
    counters->addWidget(ItalicLabel("Spooled Files"), 0, 0);
    counters->addWidget(ItalicLabel("LPR Queue"), 0, 1);
    counters->addWidget(PrintQueue, 1, 0);
    counters->addWidget(LPRQueue, 1, 1);

    auto* lights = new QGridLayout;
    const std::pair<TLightWidget*, const char*> lightLabels[] = {
        {SpoolLight, "Spool"}, {ConvertLight, "Convert"}, {PrintingLight, "Print"}, {LPRLight, "LPR"}};
    for (int i = 0; i < 4; ++i) {
        auto* row = new QHBoxLayout;
        row->addWidget(lightLabels[i].first);
        row->addWidget(new QLabel(QString::fromLatin1(lightLabels[i].second)), 1);
        lights->addLayout(row, i / 2, i % 2);
    }

    auto* queue = new QVBoxLayout(QueuePanel);
    queue->setContentsMargins(4, 4, 4, 4);
    queue->setSpacing(4);
    queue->addWidget(Startstopbutton);
    queue->addLayout(counters);
    queue->addLayout(lights);
    queue->addWidget(HideScribButton);
    queue->addWidget(Button1);
    queue->addWidget(Button2);
}

void TPrintServerForm::BuildResultPanel()
{
    ResultPanel = new QWidget;
    MultiImage = new QLabel;
    MultiImage->setAlignment(Qt::AlignCenter);
    ResultBox = new TResultBox(FServer->Pipeline().Engine());
    OptionPages = new QTabWidget;
    // Painted whole, so the document view under it does not show beside the tabs.
    OptionPages->setAutoFillBackground(true);

    PrinterPage = new TPrintersPage(FServer->Printers(), FPrinterActions, FOverlayList);
    LogPage = new QWidget;
    logmemo = new QPlainTextEdit;
    logmemo->setReadOnly(true);
    logmemo->setUndoRedoEnabled(false);
    logmemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    auto* logLayout = new QVBoxLayout(LogPage);
    logLayout->setContentsMargins(0, 0, 0, 0);
    logLayout->addWidget(logmemo);
    FilePage = new TSettingsTab(*FServer);
    testingtab = new TTestingPage(FTestPrint);
    connect(testingtab->ShowTXBtn, &QPushButton::clicked, this, &TPrintServerForm::ShowTXBtnClick);

    OptionPages->addTab(PrinterPage, QStringLiteral("Printers"));
    OptionPages->addTab(LogPage, QStringLiteral("Log"));
    OptionPages->addTab(FilePage, QStringLiteral("Settings"));
    OptionPages->addTab(testingtab, QStringLiteral("Testing"));
    connect(OptionPages, &QTabWidget::currentChanged, this, &TPrintServerForm::OptionPagesChange);

    // Three views in one place, the option pages on top.
    auto* stack = new QGridLayout(ResultPanel);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->addWidget(MultiImage, 0, 0);
    stack->addWidget(ResultBox, 0, 0);
    stack->addWidget(OptionPages, 0, 0);
    OptionPages->raise();
}

TLightWidget* TPrintServerForm::LightOf(TLight light) const
{
    switch (light) {
    case TLight::Spool: return SpoolLight;
    case TLight::Convert: return ConvertLight;
    case TLight::Printing: return PrintingLight;
    case TLight::LPR: return LPRLight;
    }
    return SpoolLight;
}

void TPrintServerForm::ShowLight(TLight light)
{
    LightOf(light)->SetColor(FServer->Indicators().Light(light));
}

void TPrintServerForm::ShowCounters()
{
    PrintQueue->setText(QString::fromStdString(FServer->Indicators().PrintQueueText()));
    LPRQueue->setText(QString::fromStdString(FServer->Indicators().LPRQueueText()));
}

void TPrintServerForm::ShowLog()
{
    // Errors and warnings in the colours the status page's log gives them.
    QTextCharFormat info, warning, error;
    warning.setForeground(QColor(0x7a, 0x4b, 0x00));
    error.setForeground(QColor(0xa1, 0x1d, 0x1d));
    logmemo->clear();
    QTextCursor cursor(logmemo->document());
    bool first = true;
    for (const TEventLog::TWindowLine& line : FServer->Log().WindowLines()) {
        if (!first)
            cursor.insertBlock();
        first = false;
        const QTextCharFormat& format = line.Severity == TSeverity::Error     ? error
                                        : line.Severity == TSeverity::Warning ? warning
                                                                              : info;
        cursor.insertText(ToUnicode(line.Text), format);
    }
    logmemo->moveCursor(QTextCursor::Start);  // the newest line in view
}

void TPrintServerForm::OptionPagesChange(int index)
{
    QWidget* page = OptionPages->widget(index);
    if (page == PrinterPage) {
        FPrinterActions.PrinterPageEnter();
        PrinterPage->Refresh();
    } else if (page == testingtab) {
        FTestPrint.testingtabEnter();
    }
    FTestPrint.TestlhEditChange();
    testingtab->Refresh();
}

void TPrintServerForm::StartstopbuttonClick()
{
    TJobPipeline& pipeline = FServer->Pipeline();
    pipeline.ReleaseSpool();
    if (pipeline.State().Ticking) {
        pipeline.Stop();
        Startstopbutton->setText(QStringLiteral("Start"));
    } else {
        pipeline.Start();
        Startstopbutton->setText(QStringLiteral("Stop"));
    }
}

void TPrintServerForm::ShowTXBtnClick()
{
    MultiImage->hide();
    OptionPages->hide();
    showMaximized();
    HideScribButton->show();
    FitQueuePanel();
}

void TPrintServerForm::HideScribButtonClick()
{
    MultiImage->show();
    OptionPages->show();
    showNormal();
    HideScribButton->hide();
    FitQueuePanel();
}

void TPrintServerForm::FitQueuePanel()
{
    // A button shown or hidden changes the panel's height at once, so the
    // counters and lights keep their room.
    QueuePanel->layout()->invalidate();
    QueuePanel->layout()->activate();
    FormResize();
}

void TPrintServerForm::FormResize()
{
    // The picture and the queue panel under it stay together at the top of
    // the left panel, so a tall window does not part them; the picture
    // shrinks to fit when the panel is short.
    const int width = ImagePanel->width();
    const int queueHeight = QueuePanel->sizeHint().height();
    const QPixmap& picture = FPicture;
    const int fitHeight =
        picture.size().scaled(std::min(width, picture.width()), picture.height(), Qt::KeepAspectRatio).height();
    const int room = std::max(0, std::min(ImagePanel->height() - queueHeight, fitHeight));
    QueuePanel->setGeometry(0, room, width, queueHeight);
    const QSize size = picture.size().scaled(QSize(std::min(width, picture.width()), std::min(room, picture.height())),
                                             Qt::KeepAspectRatio);
    PrintingImage->setPixmap(picture.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    PrintingImage->setGeometry((width - size.width()) / 2, PrintingImageTop(room, size.height()), size.width(),
                               size.height());
}

void TPrintServerForm::Button1Click()
{
    const std::string path = FServer->Config().TempDir + "scrib.pdf";
    DeleteFileAt(path);
    if (!FServer->Pipeline().Engine().SaveDocument(ToUnicode(path), DocumentEngine::PdfFormat))
        FServer->Prompts().ShowMessage("", "Could not save temp file.", TPrompts::Icon::Error);
}

void TPrintServerForm::Button2Click()
{
    const std::string path = FServer->Config().TempDir + "scrib.txw";
    DeleteFileAt(path);
    if (!FServer->Pipeline().Engine().SaveDocument(ToUnicode(path), DocumentEngine::OwnFormat))
        FServer->Prompts().ShowMessage("", "Could not save temp file.", TPrompts::Icon::Error);
}

void TPrintServerForm::ResultBoxError(TEngineErrorEvent& event)
{
    // The engine never shows a box of its own; callers report failures.
    event.CancelDisplay = true;
}

void TPrintServerForm::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    FormResize();
}

bool TPrintServerForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ImagePanel && event->type() == QEvent::Resize)
        FormResize();
    return QWidget::eventFilter(watched, event);
}

void TPrintServerForm::closeEvent(QCloseEvent* event)
{
    // Closing is never refused.
    FServer->SpoolerLink().Close();
    FServer->loginfo("Print server closed.");
    event->accept();
}
