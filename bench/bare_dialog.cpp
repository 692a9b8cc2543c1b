// The peer of the start-up benchmark: a bare Qt dialog of the client's first size, started the same way.
// Appends "shown=1" to $QUORIN_REPORT once the dialog is on screen, then ends.
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QDialog dialog;
    dialog.resize(1028, 600);
    dialog.show();
    QTimer::singleShot(0, &dialog, [&dialog] {
        QFile report(qEnvironmentVariable("QUORIN_REPORT"));
        if (report.open(QIODevice::Append))
            report.write("shown=1\n");
        dialog.done(0);
    });
    return dialog.exec();
}
