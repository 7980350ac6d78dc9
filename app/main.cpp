// hda-vistrel: the desktop client for OPC HDA historians.
#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>

#include "app/brindlexapp.h"
#include "hda/serverlist.h"
#include "resources/uikit.h"
#include "serverpane/hostkeys.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral("1.1"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("BrindlexOPC HDA Vistrel: a client and test tool for OPC HDA historians."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(app);
    // The document holds no data, so there is no file to open.
    for (const QString& strArg : parser.positionalArguments())
        std::fprintf(stderr, "hda-vistrel: ignoring '%s': the client opens no files\n", qPrintable(strArg));

    ui::InstallMessageBoxSink();
    // This computer's server list, which the client asks for a ProgID its own store does not know.
    hda::InstallServerList();
    // Other computers' hosts, with a question on first contact.
    serverpane::InstallRemoteClient();
    CBrindlexHDAApp theApp;
    if (!theApp.InitInstance()) return 1;
    return app.exec();
}
