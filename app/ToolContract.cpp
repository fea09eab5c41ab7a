// The argument vectors of the two outside tools.

#include "app/AppController.h"
#include "app/CheckBoxes.h"

namespace {

// A path the tool could take for one of its options is made unmistakable.
QString asOperand(const QString &path)
{
    return path.startsWith(QLatin1Char('-')) ? QStringLiteral("./") + path : path;
}

} // namespace

QString AppController::toolPath(const QString &name) const
{
    // A bare name is what the runner reports as not found.
    const QString path = m_toolLocator.pathForAuxiliaryExecutable(name);
    return path.isEmpty() ? name : path;
}

QStringList AppController::detectArguments() const
{
    const QString tool = toolPath(QStringLiteral("comskip"));
    return {tool, QStringLiteral("--csvout"), QStringLiteral("--ini=") + workFile(QStringLiteral("ini")),
            asOperand(m_movieFile)};
}

QStringList AppController::removeArguments(const QString &output, const QString &cutList) const
{
    return removeArguments(requestFromWindow(false, true, false), output, cutList);
}

QStringList AppController::removeArguments(const RunRequest &request, const QString &output,
                                           const QString &cutList) const
{
    const QString tool = toolPath(QStringLiteral("mencoder"));
    QStringList args{tool,
                     QStringLiteral("-oac"),
                     QStringLiteral("copy"),
                     QStringLiteral("-ovc"),
                     QStringLiteral("copy"),
                     QStringLiteral("-of"),
                     QStringLiteral("mpeg"),
                     QStringLiteral("-mpegopts"),
                     QStringLiteral("format=mpeg2:tsaf:muxrate=36000"),
                     QStringLiteral("-forceidx")};
    if (request.noSkip)
        args << QStringLiteral("-noskip") << QStringLiteral("-mc") << QStringLiteral("0");
    if (request.edlSeek)
        args << QStringLiteral("-hr-edl-seek");
    args << QStringLiteral("-edl") << (cutList.isEmpty() ? workFile(QStringLiteral("edl")) : cutList);
    args << QStringLiteral("-o") << (!output.isEmpty() ? output : request.output);
    args << asOperand(request.recording);
    return args;
}
