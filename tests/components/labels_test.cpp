#include "urllabel.h"
#include "version.h"

#include "platform/platform.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"

#include <QDesktopServices>
#include <QDir>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

// --- TVersion -------------------------------------------------------------------

namespace {

std::string writeVersioned(const testutil::TempDir& dir, const std::string& name, const pew::VersionInfo& info) {
    const std::string path = dir.file(name);
    pew::Image img;
    img.version(info);
    pew::writeFile(path, pew::build(img));
    return path;
}

}  // namespace

TEST(Version, ShowsTheFirstTranslationsFileVersionWithItsPrefix) {
    testutil::TempDir dir;
    // A fresh label shows the running program's own version.
#ifdef _WIN32
    TVersion v;  // the suite carries the program's own version resource
#else
    platform::setOwnVersionBlock(pew::versionBlock(pew::VersionInfo::simple("1.3.0.81")));
    TVersion v;
    platform::setOwnVersionBlock({});
#endif
    EXPECT_EQ(v.text(), "V 1.3.0.81");
    EXPECT_TRUE(v.Clothed);

    const auto a = QString::fromStdString(writeVersioned(dir, "a.dll", pew::VersionInfo::simple("1.3.0.81")));
    v.SetFichier(a);
    EXPECT_EQ(v.Fichier(), a);
    EXPECT_EQ(v.text(), "V 1.3.0.81");

    // Stored as written, commas and spaces included; the key is built in
    // upper-case hex from the translation entry.
    pew::VersionInfo info = pew::VersionInfo::simple("2, 0, 0, 7", 0x0409, 0x04B0);
    const auto b = QString::fromStdString(writeVersioned(dir, "b.dll", info));
    v.SetFichier(b);
    EXPECT_EQ(v.text(), "V 2, 0, 0, 7");

    // Only the first translation counts.
    pew::VersionInfo two = pew::VersionInfo::simple("3.0");
    two.translations.insert(two.translations.begin(), 0x04B00409u);
    const auto c = QString::fromStdString(writeVersioned(dir, "c.dll", two));
    v.SetFichier(c);
    EXPECT_EQ(v.text(), "V: ???");

    v.Clothed = false;
    EXPECT_EQ(v.text(), "V: ???");  // Clothed shows from the next computation
    v.SetFichier(a);
    EXPECT_EQ(v.text(), "1.3.0.81");
}

TEST(Version, MissingOrUnversionedFilesShowQuestionMarks) {
    testutil::TempDir dir;
    TVersion v;
    const auto a = QString::fromStdString(writeVersioned(dir, "a.dll", pew::VersionInfo::simple("1.0")));
    v.SetFichier(a);
    v.SetFichier(QString());  // after another name: not the program's own version
    EXPECT_EQ(v.text(), "V: ???");
    v.SetFichier(QString::fromStdString(dir.file("absent.dll")));
    EXPECT_EQ(v.text(), "V: ???");

    pew::Image bare;
    const std::string plain = dir.file("plain.dll");
    pew::writeFile(plain, pew::build(bare));
    pew::VersionInfo noTranslation = pew::VersionInfo::simple("1.0");
    noTranslation.withVarFileInfo = false;
    const auto nt = QString::fromStdString(writeVersioned(dir, "nt.dll", noTranslation));
    pew::writeFile(dir.file("junk.dll"), std::string("MZ pas un exécutable"));
    v.Clothed = false;
    for (const std::string& f : {plain, nt.toStdString(), dir.file("junk.dll")}) {
        v.SetFichier(QString::fromStdString(f));
        EXPECT_EQ(v.text(), "???") << f;
    }
}

TEST(Version, SameNameDoesNotRereadButAnotherCaseDoes) {
    testutil::TempDir dir;
    TVersion v;
    const std::string path = writeVersioned(dir, "a.dll", pew::VersionInfo::simple("1.0"));
    v.SetFichier(QString::fromStdString(path));
    writeVersioned(dir, "a.dll", pew::VersionInfo::simple("2.0"));
    v.SetFichier(QString::fromStdString(path));
    EXPECT_EQ(v.text(), "V 1.0");
    writeVersioned(dir, "A.dll", pew::VersionInfo::simple("3.0"));
    v.SetFichier(QString::fromStdString(dir.file("A.dll")));
    EXPECT_EQ(v.text(), "V 3.0");
}

// --- TURLLabel ------------------------------------------------------------------

namespace {

// Stands in for the desktop's handlers of the schemes used below.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher() {
        for (const char* scheme : {"mailto", "http", "https", "file"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
    }
    ~UrlCatcher() override {
        for (const char* scheme : {"mailto", "http", "https", "file"})
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

}  // namespace

TEST(URLLabel, ClickOpensCibleOrTheCaptionAsMailOrAddress) {
    UrlCatcher catcher;
    TURLLabel l;
    EXPECT_TRUE(l.Adresse);
    EXPECT_TRUE(l.Cible.isEmpty());
    EXPECT_EQ(l.cursor().shape(), Qt::PointingHandCursor);
    EXPECT_TRUE(l.font().underline());
    EXPECT_EQ(l.palette().color(QPalette::WindowText), QColor(0, 0, 255));

    l.setText("moi@exemple.fr");
    l.resize(120, 20);
    l.show();
    int clicks = 0;
    qsizetype openedAtClick = -1;
    QObject::connect(&l, &TURLLabel::clicked, [&] {
        ++clicks;
        openedAtClick = catcher.opened.size();
    });
    QTest::mouseClick(&l, Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(openedAtClick, 0);  // the host's click event comes first
    EXPECT_EQ(l.DerniereCible(), "mailto:moi@exemple.fr");
    ASSERT_EQ(catcher.opened.size(), 1);
    EXPECT_EQ(catcher.opened[0].scheme(), "mailto");
    EXPECT_EQ(catcher.opened[0].path(), "moi@exemple.fr");

    l.Adresse = false;
    l.setText("https://exemple.fr/tavelin");
    QTest::mouseClick(&l, Qt::LeftButton);
    EXPECT_EQ(l.DerniereCible(), "https://exemple.fr/tavelin");
    EXPECT_EQ(catcher.opened.last(), QUrl("https://exemple.fr/tavelin"));

    l.Cible = "http://morvane.example/";
    l.setText("Mon site");
    QTest::mouseClick(&l, Qt::LeftButton);
    EXPECT_EQ(l.DerniereCible(), "http://morvane.example/");
    l.Adresse = true;  // no check for a scheme already there
    l.Click();
    EXPECT_EQ(l.DerniereCible(), "mailto:http://morvane.example/");

    // A press that ends outside the label is no click.
    const int before = clicks;
    QTest::mousePress(&l, Qt::LeftButton);
    QTest::mouseRelease(&l, Qt::LeftButton, {}, QPoint(-10, -10));
    EXPECT_EQ(clicks, before);
}

TEST(URLLabel, RelativeFileNamesOpenFromTheCurrentFolder) {
    testutil::TempDir dir;
    pew::writeFile(dir.file("notes.txt"), "x");
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(dir.path())));
    UrlCatcher catcher;
    TURLLabel l;
    l.Adresse = false;
    l.setText("notes.txt");
    l.Click();
    QDir::setCurrent(before);
    ASSERT_EQ(catcher.opened.size(), 1);
    EXPECT_EQ(catcher.opened[0], QUrl::fromLocalFile(QString::fromStdString(dir.file("notes.txt"))));
}

// Whatever a caption or a version string holds, it is shown as written.
TEST(Labels, CaptionsArePlainText) {
    testutil::TempDir dir;
    const auto tagged = QString::fromStdString(writeVersioned(dir, "t.dll", pew::VersionInfo::simple("<b>2.0</b>")));
    TVersion v;
    v.SetFichier(tagged);
    EXPECT_EQ(v.text(), "V <b>2.0</b>");
    EXPECT_EQ(v.textFormat(), Qt::PlainText);
    TURLLabel u;
    u.setText("<a href=\"http://ailleurs.example/\">Mon site</a>");
    EXPECT_EQ(u.textFormat(), Qt::PlainText);
}

#include "labels_test.moc"
