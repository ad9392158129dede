// The name proposed for a file that a server or page names: one plain name, whatever it sent.

#include <gtest/gtest.h>

#include <QUrl>

#include "platform/system/safe_file_name.h"

TEST(SafeFileName, ServerNamesBecomePlainNamesInTheDownloadFolder) {
    const QUrl at(QStringLiteral("http://127.0.0.1/dl/report%20final.pdf?x=1"));
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("../../x.sh"), QStringLiteral("x.sh")},
        {QStringLiteral("/etc/cron.d/x"), QStringLiteral("x")},
        {QStringLiteral("..\\..\\x.bat"), QStringLiteral("x.bat")},
        {QStringLiteral("C:\\Windows\\win.ini"), QStringLiteral("win.ini")},
        {QStringLiteral(".profile"), QStringLiteral("profile")},
        {QStringLiteral("  notes.txt. . "), QStringLiteral("notes.txt")},
        {QStringLiteral("a\x1b[31mred\a.txt"), QStringLiteral("a_[31mred_.txt")},
        {QStringLiteral("q<u>e:s\"t|i?o*n.txt"), QStringLiteral("q_u_e_s_t_i_o_n.txt")},
        {QStringLiteral("Invoice\u202Efdp.exe"), QStringLiteral("Invoicefdp.exe")},  // reads as "Invoiceexe.pdf"
        {QStringLiteral("CON"), QStringLiteral("_CON")},
        {QStringLiteral("nul.txt"), QStringLiteral("_nul.txt")},
        {QStringLiteral("Com1.tar.gz"), QStringLiteral("_Com1.tar.gz")},
        {QStringLiteral("console.txt"), QStringLiteral("console.txt")},  // only the devices themselves
        {QStringLiteral("résumé ☃.odt"), QStringLiteral("résumé ☃.odt")},
        // Nothing usable in the name: the address's last part, else "download".
        {QString(), QStringLiteral("report final.pdf")},
        {QStringLiteral("...."), QStringLiteral("report final.pdf")},
        {QStringLiteral("../"), QStringLiteral("report final.pdf")},
    };
    for (const auto& [sent, proposed] : cases)
        EXPECT_EQ(safe_name::fileName(sent, at), proposed) << qPrintable(sent);
    EXPECT_EQ(safe_name::fileName(QString(), QUrl(QStringLiteral("http://127.0.0.1/"))), QStringLiteral("download"));
    EXPECT_EQ(safe_name::fileName(QStringLiteral("/"), QUrl(QStringLiteral("data:text/plain,abc"))),
              QStringLiteral("download"));

    // Too long: cut to 255 bytes of UTF-8, never inside a character, the extension kept.
    for (const QString& unit : {QStringLiteral("a"), QStringLiteral("é"), QStringLiteral("😀")}) {
        const QString name = safe_name::fileName(unit.repeated(300) + QStringLiteral(".tar.gz"), at);
        EXPECT_LE(name.toUtf8().size(), 255) << qPrintable(unit);
        EXPECT_GT(name.toUtf8().size(), 250 - 4) << qPrintable(unit);
        EXPECT_TRUE(name.endsWith(QStringLiteral(".gz"))) << qPrintable(name);
        EXPECT_TRUE(name.startsWith(unit.repeated(10)));
        EXPECT_EQ(QString::fromUtf8(name.toUtf8()), name) << "a character was cut in two";
    }
    // An "extension" as long as the name is no extension: the name is cut as a whole.
    EXPECT_EQ(safe_name::fileName(QStringLiteral("x.") + QString(300, QLatin1Char('b')), at).toUtf8().size(), 255);
    EXPECT_EQ(safe_name::fileName(QString(300, QLatin1Char('b')), at, 100).size(), 100);
}
