#include "platform/system/typed_address.h"

#include <QRegularExpression>
#include <QStringList>

#include "platform/ui/looks.h"

QUrl addressToUrl(const QString& address) {
    const QString text = address.trimmed();
    if (text.isEmpty()) return {};
    if (text.startsWith(QLatin1Char('/'))) return QUrl::fromLocalFile(text);

    // A scheme counts when "//" follows it, when it is one that never has "//"
    // (about:blank, mailto:...), or when what follows is no port: "localhost:8080/x" is a
    // host with a port, "tel:+4930123" and "ms-settings:privacy" are addresses for
    // other programs.
    static const QRegularExpression schemePattern(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*):"));
    bool hasScheme = false;
    const QRegularExpressionMatch match = schemePattern.match(text);
    if (match.hasMatch()) {
        static const QStringList bareSchemes = {
            QStringLiteral("about"), QStringLiteral("blob"),  QStringLiteral("data"),
            QStringLiteral("file"),  QStringLiteral("ftp"),   QStringLiteral("http"),
            QStringLiteral("https"), QStringLiteral("javascript"), QStringLiteral("mailto"),
            QStringLiteral("view-source"), QUrl(kDefaultStartPage).scheme()};  // the program's own pages
        static const QRegularExpression port(QStringLiteral("^[0-9]*(/|$)"));
        const QString rest = text.mid(match.capturedLength());
        hasScheme = rest.startsWith(QLatin1String("//")) || bareSchemes.contains(match.captured(1).toLower()) ||
                    (!match.captured(1).contains(QLatin1Char('.')) && !port.match(rest).hasMatch());
    }
    const QUrl url(hasScheme ? text : QStringLiteral("http://") + text, QUrl::TolerantMode);
    if (!url.isValid() || url.scheme().isEmpty()) return {};
    return url;
}
