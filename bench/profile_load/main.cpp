// Time LoadModels takes for a full model file: 64 models with 16 inputs and
// 16 aspects each, optionally followed by filler sections that no lookup asks
// for (a large, hand-grown file). Prints the median and the range of several
// runs.

#include "core/AppState.h"
#include "core/ModelFile.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

QByteArray fullModelFile() {
    QByteArray file = "[MODEL]\r\nNum=64\r\n";
    for (int n = 1; n <= MaxModels; ++n)
        file += QStringLiteral("Model_%1=NX-%2 Série\r\n")
                    .arg(n, 3, 10, QLatin1Char('0'))
                    .arg(n)
                    .toUtf8();
    for (int n = 1; n <= MaxModels; ++n) {
        file +=
            QStringLiteral("\r\n[NX-%1 Série]\r\nInputNum=16\r\nAspectNum=16\r\n").arg(n).toUtf8();
        for (int k = 1; k <= MaxModelEntries; ++k) {
            const QString number = QStringLiteral("%1").arg(k, 3, 10, QLatin1Char('0'));
            file += QStringLiteral("Input_%1=%2;Input %3 'shown as %3\r\n")
                        .arg(number)
                        .arg(k % 7)
                        .arg(k)
                        .toUtf8();
            file +=
                QStringLiteral("Aspect_%1=%2;Aspect %3\r\n").arg(number).arg(k % 8).arg(k).toUtf8();
        }
        file += "Network=1\r\nNetworkPort=23\r\n";
    }
    return file;
}

QByteArray filler(qint64 bytes) {
    QByteArray out;
    out.reserve(bytes + 4096);
    for (int s = 0; out.size() < bytes; ++s) {
        out += "[Filler " + QByteArray::number(s) + "]\r\n";
        for (int k = 0; k < 100; ++k)
            out += "Key_" + QByteArray::number(k) + " = some value that nobody reads\r\n";
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Times LoadModels on a full model file."));
    parser.addHelpOption();
    const QCommandLineOption runsOption(QStringList{QStringLiteral("runs")},
                                        QStringLiteral("Number of timed runs."),
                                        QStringLiteral("N"), QStringLiteral("7"));
    const QCommandLineOption fillerOption(QStringList{QStringLiteral("filler-mb")},
                                          QStringLiteral("Megabytes of unread sections appended."),
                                          QStringLiteral("MB"), QStringLiteral("0"));
    parser.addOption(runsOption);
    parser.addOption(fillerOption);
    parser.process(app);
    const int runs = parser.value(runsOption).toInt();
    const int fillerMb = parser.value(fillerOption).toInt();
    if (runs < 1 || fillerMb < 0) {
        std::fprintf(stderr, "profile_load: --runs must be at least 1, --filler-mb at least 0\n");
        return 2;
    }

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("PJModel.txt"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(fullModelFile()) < 0 ||
            file.write(filler(qint64(fillerMb) * 1024 * 1024)) < 0) {
            std::fprintf(stderr, "profile_load: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }

    const auto state = std::make_unique<AppState>();
    std::vector<double> millis;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        LoadModels(*state, path);
        millis.push_back(double(timer.nsecsElapsed()) / 1e6);
        const ModelInfo& last = state->Models[MaxModels];
        if (state->ModelCount != MaxModels || last.AspectNum != MaxModelEntries ||
            last.Aspect[MaxModelEntries].isEmpty() || last.NetworkPort != 23) {
            std::fprintf(stderr, "profile_load: the file was not read whole\n");
            return 1;
        }
    }
    std::sort(millis.begin(), millis.end());
    std::printf("profile_load: %lld bytes, %d models x 16 inputs + 16 aspects, %d runs\n",
                QFileInfo(path).size(), int(state->ModelCount), runs);
    std::printf("LoadModels median %.2f ms (min %.2f, max %.2f)\n", millis[millis.size() / 2],
                millis.front(), millis.back());
    return 0;
}
