#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Penroost Derud"));
    QApplication::setApplicationVersion(QStringLiteral(PENROOST_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/penroost-derud.svg")));

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Penroost Derud"));
    window.setUnifiedTitleAndToolBarOnMac(true);
    auto *label = new QLabel(QStringLiteral("Penroost Derud"));
    label->setAlignment(Qt::AlignCenter);
    window.setCentralWidget(label);
    window.resize(1100, 720);
    window.show();
    return app.exec();
}
