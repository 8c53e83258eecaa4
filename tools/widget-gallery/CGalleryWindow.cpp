#include "CGalleryWindow.h"

#include "CGalleryTree.h"
#include "ui/controls/CTextProgressCtrl.h"
#include "ui/controls/CmEdit.h"

#include <chrono>

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTextStream>
#include <QVBoxLayout>

namespace qarn {

namespace {

const char* const kMacMask = "[0-9abcdef][0-9abcdef] [0-9abcdef][0-9abcdef] [0-9abcdef][0-9abcdef] "
                             "[0-9abcdef][0-9abcdef] [0-9abcdef][0-9abcdef] [0-9abcdef][0-9abcdef]";
const char* const kLetterMask = "[!-z]";

// A masked edit with a line below it that shows what the program reads from it.
QWidget* WithInputText(CmEdit* edit) {
    auto* box = new QWidget;
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* reads = new QLabel;
    reads->setObjectName(edit->objectName() + QStringLiteral("-reads"));
    reads->setEnabled(false);
    auto show = [edit, reads] {
        reads->setText(QStringLiteral("reads \"%1\"").arg(edit->GetInputText(0, -1)));
    };
    QObject::connect(edit, &QLineEdit::textChanged, reads, show);
    show();
    layout->addWidget(edit);
    layout->addWidget(reads);
    return box;
}

} // namespace

CGalleryWindow::CGalleryWindow(QWidget* parent) : QWidget(parent) {
    setWindowTitle(QStringLiteral("qarn widget gallery"));
    auto* columns = new QHBoxLayout(this);
    auto* layout = new QVBoxLayout;
    layout->addWidget(MakeMaskedEdits());
    layout->addWidget(MakeProgress());
    layout->addStretch(1);
    columns->addLayout(layout);
    columns->addWidget(MakeTree(), 1);
    StartMoving();
}

CGalleryWindow::~CGalleryWindow() {
    StopMoving();
}

QWidget* CGalleryWindow::MakeMaskedEdits() {
    auto* group = new QGroupBox(QStringLiteral("Masked edit"));
    auto* form = new QFormLayout(group);
    m_mac = new CmEdit;
    m_mac->setObjectName(QStringLiteral("mac"));
    m_mac->SetMask(kMacMask);
    m_mac->SetEditText(QStringLiteral("00 1a 2b 3c 4d 5e"));
    form->addRow(QStringLiteral("MAC address"), WithInputText(m_mac));
    m_letter = new CmEdit;
    m_letter->setObjectName(QStringLiteral("letter"));
    m_letter->SetMask(kLetterMask);
    m_letter->SetEditText(QString());
    form->addRow(QStringLiteral("Letter"), WithInputText(m_letter));
    return group;
}

QWidget* CGalleryWindow::MakeProgress() {
    auto* group = new QGroupBox(QStringLiteral("Text progress bar"));
    auto* layout = new QVBoxLayout(group);
    m_progress = new CTextProgressCtrl;
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->SetWindowText(QStringLiteral("Sending firmware "));
    layout->addWidget(m_progress);

    auto* controls = new QHBoxLayout;
    for (int percent : {0, 37, 100}) {
        auto* button = new QPushButton(QStringLiteral("%1 %").arg(percent));
        button->setObjectName(QStringLiteral("set-%1").arg(percent));
        connect(button, &QPushButton::clicked, this, [this, percent] { SetProgress(percent); });
        controls->addWidget(button);
    }
    m_slider = new QSlider(Qt::Horizontal);
    m_slider->setObjectName(QStringLiteral("slider"));
    m_slider->setRange(0, 100);
    connect(m_slider, &QSlider::sliderMoved, this, &CGalleryWindow::SetProgress);
    controls->addWidget(m_slider, 1);
    layout->addLayout(controls);

    auto* options = new QHBoxLayout;
    m_moving = new QCheckBox(QStringLiteral("Moved by a worker thread"));
    m_moving->setObjectName(QStringLiteral("moving"));
    m_moving->setChecked(true);
    connect(m_moving, &QCheckBox::toggled, this, [this](bool on) {
        if (on)
            StartMoving();
        else
            StopMoving();
    });
    auto* text = new QCheckBox(QStringLiteral("Text"));
    text->setObjectName(QStringLiteral("show-text"));
    text->setChecked(true);
    connect(text, &QCheckBox::toggled, m_progress, &CTextProgressCtrl::SetShowText);
    auto* percent = new QCheckBox(QStringLiteral("Percent"));
    percent->setObjectName(QStringLiteral("show-percent"));
    percent->setChecked(true);
    connect(percent, &QCheckBox::toggled, m_progress, &CTextProgressCtrl::SetShowPercent);
    options->addWidget(m_moving);
    options->addWidget(text);
    options->addWidget(percent);
    options->addStretch(1);
    layout->addLayout(options);
    return group;
}

QWidget* CGalleryWindow::MakeTree() {
    auto* group = new QGroupBox(QStringLiteral("Property tree"));
    auto* layout = new QVBoxLayout(group);
    m_tree = new CGalleryTree;
    layout->addWidget(m_tree);
    return group;
}

void CGalleryWindow::SetProgress(int percent) {
    m_moving->setChecked(false);
    m_progress->SetPos(percent);
    m_slider->setValue(percent);
}

void CGalleryWindow::StartMoving() {
    StopMoving();
    m_stop = false;
    // Like a firmware transfer: many small reports from a thread of its own, one percent per
    // 40 ms, and a short rest at 100 %.
    m_worker = std::thread([this] {
        using namespace std::chrono_literals;
        for (int step = 0; !m_stop; step = (step + 1) % 125) {
            m_progress->SetPos(std::min(step, 100));
            std::this_thread::sleep_for(40ms);
        }
    });
}

void CGalleryWindow::StopMoving() {
    m_stop = true;
    if (m_worker.joinable())
        m_worker.join();
}

void CGalleryWindow::PrintGeometry(QTextStream& out) const {
    const QRect frame = frameGeometry();
    out << "window " << frame.x() << ' ' << frame.y() << ' ' << frame.width() << ' '
        << frame.height() << '\n';
    for (const QWidget* widget : findChildren<QWidget*>()) {
        if (widget->objectName().isEmpty() || widget->objectName().startsWith(QLatin1String("qt_")))
            continue;
        const QPoint topLeft = widget->mapToGlobal(QPoint(0, 0));
        out << widget->objectName() << ' ' << topLeft.x() << ' ' << topLeft.y() << ' '
            << widget->width() << ' ' << widget->height() << '\n';
    }
    m_tree->PrintRows(out);
    out.flush();
}

} // namespace qarn
