// TMsgLabel and its TBobine workers, with the mail functions replaced by a
// recording fake: the records each send hands to MAPISendMail, the result
// codes, the messages, and a label destroyed while its send is under way.
#include <QApplication>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "msglabel.h"
#include "platform/platform.h"
#include "tests/support/pewriter.h"
#include "tests/support/qtpump.h"
#include "tests/support/testutil.h"

using testing::ElementsAre;

namespace {

struct Recip {
    std::uint32_t reserved, recipClass, eidSize;
    bool nameNull, entryNull;
    std::string address;
};
struct File {
    std::uint32_t reserved, flags, position;
    bool nameNull, typeNull;
    std::string path;
};
struct Mail {
    LHANDLE session;
    std::uintptr_t parent;
    FLAGS flags;
    std::uint32_t reserved;
    bool otherFieldsZero;  // ulReserved, message type, date, conversation, flFlags, originator
    std::string subject, body;
    std::uint32_t nRecips, nFiles;
    bool recipsNull, filesNull;
    std::vector<Recip> recips;
    std::vector<File> files;
};

// Shared with the worker threads: everything under `m`.
struct Fake {
    std::mutex m;
    std::condition_variable cv;
    bool declared = true;
    int loadsBeforeFailure = -1;  // -1: loads never fail
    bool noEntry = false;
    bool unloadFails = false;
    std::uint32_t code = SUCCESS_SUCCESS;
    bool sent = true;
    bool hold = false;
    int waiting = 0;
    int loads = 0, unloads = 0, unloadAttempts = 0;
    std::vector<Mail> mails;
};
Fake* g_fake = nullptr;
char g_library;

std::string text(const char* s) { return s ? s : "(null)"; }

MapiUlong TAVELIN_MAPI_CALL fakeSend(LHANDLE session, MapiUlongPtr parent, lpMapiMessage m, FLAGS flags, MapiUlong reserved) {
    Mail mail{};
    mail.session = session;
    mail.parent = parent;
    mail.flags = flags;
    mail.reserved = reserved;
    mail.otherFieldsZero = !m->ulReserved && !m->lpszMessageType && !m->lpszDateReceived && !m->lpszConversationID &&
                           !m->flFlags && !m->lpOriginator;
    mail.subject = text(m->lpszSubject);
    mail.body = text(m->lpszNoteText);
    mail.nRecips = m->nRecipCount;
    mail.nFiles = m->nFileCount;
    mail.recipsNull = !m->lpRecips;
    mail.filesNull = !m->lpFiles;
    for (std::uint32_t i = 0; m->lpRecips && i < m->nRecipCount; ++i) {
        const MapiRecipDesc& r = m->lpRecips[i];
        mail.recips.push_back({r.ulReserved, r.ulRecipClass, r.ulEIDSize, !r.lpszName, !r.lpEntryID, text(r.lpszAddress)});
    }
    for (std::uint32_t i = 0; m->lpFiles && i < m->nFileCount; ++i) {
        const MapiFileDesc& f = m->lpFiles[i];
        mail.files.push_back({f.ulReserved, f.flFlags, f.nPosition, !f.lpszFileName, !f.lpFileType, text(f.lpszPathName)});
    }
    std::unique_lock<std::mutex> l(g_fake->m);
    g_fake->mails.push_back(std::move(mail));
    ++g_fake->waiting;
    g_fake->cv.notify_all();
    g_fake->cv.wait(l, [] { return !g_fake->hold; });  // the mail client's dialog is open
    --g_fake->waiting;
    if (g_fake->code == SUCCESS_SUCCESS && g_fake->sent) m->flFlags |= MAPI_SENT;
    return g_fake->code;
}

bool fakeDeclared() {
    std::lock_guard<std::mutex> l(g_fake->m);
    return g_fake->declared;
}
platform::MailLibrary fakeLoad() {
    std::lock_guard<std::mutex> l(g_fake->m);
    if (g_fake->loadsBeforeFailure == 0) return nullptr;
    if (g_fake->loadsBeforeFailure > 0) --g_fake->loadsBeforeFailure;
    ++g_fake->loads;
    return &g_library;
}
LPMAPISENDMAIL fakeEntry(platform::MailLibrary lib) {
    std::lock_guard<std::mutex> l(g_fake->m);
    return lib == &g_library && !g_fake->noEntry ? &fakeSend : nullptr;
}
bool fakeUnload(platform::MailLibrary lib) {
    std::lock_guard<std::mutex> l(g_fake->m);
    ++g_fake->unloadAttempts;
    if (lib != &g_library || g_fake->unloadFails) return false;
    ++g_fake->unloads;
    return true;
}
const platform::MailSystem kFake{fakeDeclared, fakeLoad, fakeEntry, fakeUnload};

class MsgLabelTest : public testing::Test {
protected:
    Fake fake;
    std::vector<QString> messages;
    std::function<void(QWidget*, const QString&)> oldMessage = TMsgLabel::Message;

    void SetUp() override {
        g_fake = &fake;
        platform::setMailSystem(&kFake);
        TMsgLabel::Message = [this](QWidget*, const QString& t) { messages.push_back(t); };
    }
    void TearDown() override {
        release();
        EXPECT_TRUE(pumpUntil([] { return TBobine::Vivantes() == 0; })) << "a worker did not end";
        set([](Fake& f) { f.unloadFails = false; });
        TMsgLabel::Liberer();
        TMsgLabel::Message = oldMessage;
        platform::setMailSystem(nullptr);
        g_fake = nullptr;
    }

    template <typename F>
    void set(F f) {
        std::lock_guard<std::mutex> l(fake.m);
        f(fake);
    }
    template <typename F>
    auto get(F f) {
        std::lock_guard<std::mutex> l(fake.m);
        return f(fake);
    }
    void release() {
        set([](Fake& f) { f.hold = false; });
        fake.cv.notify_all();
    }
    // The workers need the GUI thread on their way to the dialog.
    void waitForDialogs(int n) {
        ASSERT_TRUE(pumpUntil([&] { return get([](Fake& f) { return f.waiting; }) == n; }));
    }
    // Sends and waits for the worker to record its result and go.
    void sendAndWait(TMsgLabel& label, const QString& address, const QString& body, const QString& subject,
                     const QString* files = nullptr, qint32 n = 0) {
        label.Envoyer(address, body, subject, files, n);
        ASSERT_TRUE(pumpUntil([&] { return label.ResultatValide() && TBobine::Vivantes() == 0; }));
    }
    Mail lastMail() {
        return get([](Fake& f) { return f.mails.empty() ? Mail{} : f.mails.back(); });
    }
};

TEST_F(MsgLabelTest, RecordsHandedToMapiSendMail) {
    TMsgLabel label;
    const QString files[] = {QStringLiteral("/tmp/premier.txt"), QString::fromUtf8("/tmp/deuxième.log")};
    sendAndWait(label, QStringLiteral("dest@example.org"), QString::fromUtf8("ligne 1\nligne 2 é"),
                QStringLiteral("info de version"), files, 2);

    const Mail m = lastMail();
    EXPECT_EQ(m.session, 0u);
    EXPECT_EQ(m.flags, 11u);  // MAPI_LOGON_UI + MAPI_NEW_SESSION + MAPI_DIALOG
    EXPECT_EQ(m.reserved, 0u);
    EXPECT_TRUE(m.otherFieldsZero);
    EXPECT_EQ(m.subject, "info de version");
    EXPECT_EQ(m.body, platform::toMailText("ligne 1\nligne 2 é"));  // the ANSI code page on Windows
    ASSERT_EQ(m.nRecips, 1u);
    ASSERT_EQ(m.recips.size(), 1u);
    EXPECT_EQ(m.recips[0].recipClass, static_cast<std::uint32_t>(MAPI_TO));
    EXPECT_EQ(m.recips[0].address, "SMTP:dest@example.org");
    EXPECT_TRUE(m.recips[0].nameNull);
    EXPECT_TRUE(m.recips[0].entryNull);
    EXPECT_EQ(m.recips[0].eidSize + m.recips[0].reserved, 0u);
    ASSERT_EQ(m.nFiles, 2u);
    ASSERT_EQ(m.files.size(), 2u);
    EXPECT_EQ(m.files[0].path, "/tmp/premier.txt");
    EXPECT_EQ(m.files[1].path, platform::toMailText("/tmp/deuxième.log"));
    for (const File& f : m.files) {
        EXPECT_EQ(f.position, 0xFFFFFFFFu);  // not placed inside the body
        EXPECT_TRUE(f.nameNull);
        EXPECT_TRUE(f.typeNull);
        EXPECT_EQ(f.flags + f.reserved, 0u);
    }
    EXPECT_TRUE(label.ResultatValide());
    EXPECT_EQ(label.DernierResultat(), 0);
    // One load kept by the labels, one taken and given back by the worker.
    EXPECT_EQ(get([](Fake& f) { return f.loads; }), 2);
    EXPECT_EQ(get([](Fake& f) { return f.unloads; }), 1);
    EXPECT_TRUE(messages.empty());
}

TEST_F(MsgLabelTest, SubjectIsCutAt255Characters) {
    TMsgLabel label;
    const QString e = QString::fromUtf8("é");
    const std::string e255 = [] {
        std::string s;
        for (int i = 0; i < 255; ++i) s += "é";
        return s;
    }();
    for (int length : {300, 256, 255}) {
        SCOPED_TRACE(length);
        sendAndWait(label, QString(), QString(), e.repeated(length));
        EXPECT_EQ(lastMail().subject, platform::toMailText(e255));
    }
    sendAndWait(label, QString(), QString(), QString(254, QLatin1Char('s')));
    EXPECT_EQ(lastMail().subject, std::string(254, 's'));
}

TEST_F(MsgLabelTest, NoRecipientAndNoAttachmentsWhenThereAreNone) {
    TMsgLabel label;
    const QString files[] = {QStringLiteral("/tmp/x")};
    struct Case {
        const QString* files;
        qint32 n;
    } cases[] = {{nullptr, 0}, {nullptr, 3}, {files, 0}, {files, -2}};
    for (const Case& c : cases) {
        sendAndWait(label, QString(), QStringLiteral("corps"), QStringLiteral("s"), c.files, c.n);
        const Mail m = lastMail();
        EXPECT_EQ(m.nRecips, 0u);
        EXPECT_TRUE(m.recipsNull);
        EXPECT_EQ(m.nFiles, 0u);
        EXPECT_TRUE(m.filesNull);
        EXPECT_EQ(m.body, "corps");
    }
}

TEST_F(MsgLabelTest, ResultCodesReachTheLabel) {
    TMsgLabel label;
    set([](Fake& f) { f.code = MAPI_USER_ABORT; });
    sendAndWait(label, QStringLiteral("a@b"), QString(), QString());
    EXPECT_EQ(label.DernierResultat(), 1);

    set([](Fake& f) { f.code = 26; });
    sendAndWait(label, QStringLiteral("a@b"), QString(), QString());
    EXPECT_EQ(label.DernierResultat(), 26);

    // A library without MAPISendMail: 30, and the worker gave its load back.
    set([](Fake& f) { f.code = 0; f.noEntry = true; });
    const int before = get([](Fake& f) { return f.loads - f.unloads; });
    sendAndWait(label, QStringLiteral("a@b"), QString(), QString());
    EXPECT_EQ(label.DernierResultat(), 30);
    EXPECT_EQ(get([](Fake& f) { return f.loads - f.unloads; }), before);

    // The worker's own load fails: 30 as well.
    set([](Fake& f) { f.noEntry = false; f.loadsBeforeFailure = 0; });
    sendAndWait(label, QStringLiteral("a@b"), QString(), QString());
    EXPECT_EQ(label.DernierResultat(), 30);
    EXPECT_EQ(get([](Fake& f) { return f.mails.size(); }), 2u);  // only the first two reached the client
    // The user's cancel says nothing; the failures say so.
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_TRUE(messages[0].endsWith("(code 26).")) << messages[0].toStdString();
    EXPECT_TRUE(messages[1].endsWith("(code 30).")) << messages[1].toStdString();
}

TEST_F(MsgLabelTest, ResultIsInvalidWhileTheDialogIsOpen) {
    TMsgLabel label;
    sendAndWait(label, QStringLiteral("a@b"), QString(), QString());
    ASSERT_TRUE(label.ResultatValide());

    set([](Fake& f) { f.hold = true; f.code = 5; });
    label.Envoyer(QStringLiteral("a@b"), QString(), QString(), nullptr, 0);  // returns at once
    waitForDialogs(1);
    QCoreApplication::processEvents();
    EXPECT_FALSE(label.ResultatValide());
    EXPECT_EQ(label.DernierResultat(), 0);
    release();
    ASSERT_TRUE(pumpUntil([&] { return label.ResultatValide(); }));
    EXPECT_EQ(label.DernierResultat(), 5);
}

// The label goes while its worker waits on the mail client: the worker must
// record its result somewhere alive, give back its library, and free itself.
TEST_F(MsgLabelTest, LabelDestroyedDuringItsSend) {
    auto* label = new TMsgLabel;
    set([](Fake& f) { f.hold = true; f.code = MAPI_USER_ABORT; });
    label->Envoyer(QStringLiteral("a@b"), QStringLiteral("corps"), QStringLiteral("sujet"), nullptr, 0);
    label->Envoyer(QStringLiteral("c@d"), QStringLiteral("corps"), QStringLiteral("sujet"), nullptr, 0);
    waitForDialogs(2);
    delete label;  // unloads the labels' library; the workers keep theirs
    EXPECT_EQ(get([](Fake& f) { return f.loads - f.unloads; }), 2);
    release();
    ASSERT_TRUE(pumpUntil([] { return TBobine::Vivantes() == 0; }));
    EXPECT_EQ(get([](Fake& f) { return f.loads - f.unloads; }), 0);

    // A new label starts afresh.
    TMsgLabel other;
    set([](Fake& f) { f.code = 0; });
    sendAndWait(other, QStringLiteral("e@f"), QString(), QString());
    EXPECT_EQ(other.DernierResultat(), 0);
}

TEST_F(MsgLabelTest, SeveralSendsRunAtOnce) {
    TMsgLabel a, b;
    set([](Fake& f) { f.hold = true; });
    for (int i = 0; i < 3; ++i) a.Envoyer(QStringLiteral("a@b"), QString(), QString::number(i), nullptr, 0);
    b.Envoyer(QStringLiteral("c@d"), QString(), QStringLiteral("b"), nullptr, 0);
    waitForDialogs(4);
    release();
    ASSERT_TRUE(pumpUntil([&] { return a.ResultatValide() && b.ResultatValide() && TBobine::Vivantes() == 0; }));
    std::vector<std::string> subjects;
    for (const Mail& m : get([](Fake& f) { return f.mails; })) subjects.push_back(m.subject);
    std::sort(subjects.begin(), subjects.end());
    EXPECT_THAT(subjects, ElementsAre("0", "1", "2", "b"));
    EXPECT_EQ(get([](Fake& f) { return f.loads - f.unloads; }), 1);  // the labels' own load
}

TEST_F(MsgLabelTest, UndeclaredClientOrUnloadableLibraryAreShown) {
    set([](Fake& f) { f.declared = false; });
    TMsgLabel refusing;
    refusing.Envoyer(QStringLiteral("a@b"), QString(), QString(), nullptr, 0);
    refusing.Click();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].toStdString(),
              "Vous n'avez pas déclaré votre \"mailer\" comme \"client MAPI simple\". "
              "Veuillez vérifier les options de votre mailer!");
    EXPECT_EQ(get([](Fake& f) { return f.loads; }), 0);

    // Declared at construction time only: a later declaration changes nothing here.
    set([](Fake& f) { f.declared = true; f.loadsBeforeFailure = 0; });
    refusing.Envoyer(QStringLiteral("a@b"), QString(), QString(), nullptr, 0);
    EXPECT_EQ(messages.size(), 3u);

    TMsgLabel label;
    messages.clear();
    label.Envoyer(QStringLiteral("a@b"), QString(), QString(), nullptr, 0);
    EXPECT_THAT(messages, ElementsAre(QStringLiteral("Chargement de MAPI impossible!")));
    EXPECT_EQ(TBobine::Vivantes(), 0);
}

TEST_F(MsgLabelTest, ARecordThatCannotBeReservedCancelsTheWorker) {
    TMsgLabel label;
    static int allocations;
    allocations = 0;
    auto* old = TBobine::Allouer;
    TBobine::Allouer = [](std::size_t size) -> void* { return ++allocations == 2 ? nullptr : std::malloc(size); };
    const QString files[] = {QStringLiteral("/tmp/a")};
    try {
        label.Envoyer(QStringLiteral("a@b"), QString(), QString(), files, 1);
        ADD_FAILURE() << "no error";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Pas assez de mémoire...");
    }
    TBobine::Allouer = old;
    ASSERT_TRUE(pumpUntil([&] { return label.ResultatValide() && TBobine::Vivantes() == 0; }));
    EXPECT_EQ(label.DernierResultat(), 29);
    EXPECT_TRUE(get([](Fake& f) { return f.mails.empty(); }));
    EXPECT_EQ(get([](Fake& f) { return f.loads; }), 1);  // the worker never loaded MAPI
}

TEST_F(MsgLabelTest, UnloadFailuresAreShownAndTheResultStillRecorded) {
    TMsgLabel label;
    set([](Fake& f) { f.unloadFails = true; f.code = 3; });
    sendAndWait(label, QStringLiteral("a@b"), QString(), QString());
    EXPECT_EQ(label.DernierResultat(), 3);
    EXPECT_THAT(messages, ElementsAre(TBobine::MessageEchec(3), QStringLiteral("Erreur de libération de MAPI")));

    messages.clear();
    TMsgLabel::Liberer();
    EXPECT_THAT(messages, ElementsAre(QStringLiteral("Impossible de libérer MAPI!")));
    // The handle stays set: the next call tries again.
    set([](Fake& f) { f.unloadFails = false; f.unloadAttempts = 0; });
    TMsgLabel::Liberer();
    TMsgLabel::Liberer();
    EXPECT_EQ(get([](Fake& f) { return f.unloadAttempts; }), 1);
}

TEST_F(MsgLabelTest, ReportSwitchShowsTheResultsName) {
    TBobine::RapportParDefaut = true;
    TMsgLabel label;
    sendAndWait(label, QStringLiteral("a@b"), QString(), QString());
    set([](Fake& f) { f.sent = false; });
    sendAndWait(label, QStringLiteral("a@b"), QString(), QString());
    set([](Fake& f) { f.code = MAPI_USER_ABORT; });
    sendAndWait(label, QStringLiteral("a@b"), QString(), QString());
    TBobine::RapportParDefaut = false;
    sendAndWait(label, QStringLiteral("a@b"), QString(), QString());
    EXPECT_THAT(messages, ElementsAre(QStringLiteral("MAPI: SUCCESS_SUCCESS"), QString::fromUtf8("MAPI: Mail annulé."),
                                      QStringLiteral("MAPI: USER_ABORT")));
}

// A mail that never reached the mail client is said so, with the reason;
// a mail the user cancelled says nothing.
TEST_F(MsgLabelTest, AMailTheClientDidNotTakeIsShownWithTheReason) {
    TMsgLabel label;
    for (std::uint32_t code : {std::uint32_t(MAPI_USER_ABORT), std::uint32_t(SUCCESS_SUCCESS), std::uint32_t(2)}) {
        set([&](Fake& f) { f.code = code; f.sent = false; });
        sendAndWait(label, QStringLiteral("a@b"), QString(), QString());
    }
    set([](Fake& f) { f.noEntry = true; });
    sendAndWait(label, QStringLiteral("a@b"), QString(), QString());
    EXPECT_EQ(label.DernierResultat(), 30);
    EXPECT_THAT(messages, ElementsAre(QString::fromUtf8("Le courrier n'a pas pu être remis au logiciel de messagerie : "
                                                        "le logiciel de messagerie a signalé un échec (code 2)."),
                                      QString::fromUtf8("Le courrier n'a pas pu être remis au logiciel de messagerie : "
                                                        "le logiciel de messagerie est introuvable (code 30).")));
    // The worker cancelled before sending: its caller already said why.
    EXPECT_EQ(TBobine::MessageEchec(29), QString());
    EXPECT_TRUE(TBobine::MessageEchec(-4).contains("erreur MAPI inconnue (code -4)"));
}

#ifndef _WIN32
// The same through the real Linux stand-in: xdg-email finding no mail client.
TEST_F(MsgLabelTest, XdgEmailWithoutAMailClientIsShown) {
    testutil::TempDir bin;
    const std::string tool = bin.file("xdg-email");
    std::ofstream(tool) << "#!/bin/sh\nexit 3\n";  // "no method available"
    chmod(tool.c_str(), 0755);
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (bin.path() + ":" + path).c_str(), 1);
    platform::setMailSystem(nullptr);
    {
        TMsgLabel label;
        sendAndWait(label, QStringLiteral("a@b"), QStringLiteral("corps"), QStringLiteral("sujet"));
        EXPECT_EQ(label.DernierResultat(), MAPI_E_NOT_SUPPORTED);
        TMsgLabel::Liberer();
    }
    setenv("PATH", path.c_str(), 1);
    platform::setMailSystem(&kFake);
    EXPECT_THAT(messages, ElementsAre(QString::fromUtf8("Le courrier n'a pas pu être remis au logiciel de messagerie : "
                                                        "aucun logiciel de messagerie n'est installé ou configuré "
                                                        "pour le recevoir (code 26).")));
}
#endif

// The table's irregular spots: 0 by MAPI_SENT, the gap at 7, the ends.
TEST(TBobineNames, IrregularCodes) {
    EXPECT_EQ(TBobine::NomResultat(0, MAPI_SENT), "SUCCESS_SUCCESS");
    EXPECT_EQ(TBobine::NomResultat(0, 0), QString::fromUtf8("Mail annulé."));
    EXPECT_EQ(TBobine::NomResultat(7, 0), "Erreur MAPI inconnue");
    EXPECT_EQ(TBobine::NomResultat(30, 0), "Impossible de trouver la fonction d'envoi");
    EXPECT_EQ(TBobine::NomResultat(31, 0), "Erreur MAPI inconnue");
    EXPECT_EQ(TBobine::NomResultat(-1, MAPI_SENT), "Erreur MAPI inconnue");
}

TEST_F(MsgLabelTest, ClickMailsTheVersionUnlessAHandlerIsConnected) {
    const QString oldTitle = QApplication::applicationDisplayName();
    QApplication::setApplicationDisplayName(QStringLiteral("Tavelin, un utilitaire"));
    TMsgLabel label;
    QApplication::setApplicationDisplayName(oldTitle);  // the subject was taken at construction
    label.Adresse = QStringLiteral("moi@example.org");
    label.resize(60, 16);
#ifndef _WIN32  // Windows: the suite carries the program's own version resource
    pew::VersionInfo v = pew::VersionInfo::simple("1.3.0.81");
    v.major = 1, v.minor = 3, v.release = 0, v.build = 81;
    platform::setOwnVersionBlock(pew::versionBlock(v));
#endif

    QTest::mouseClick(&label, Qt::LeftButton);
    ASSERT_TRUE(pumpUntil([&] { return label.ResultatValide() && TBobine::Vivantes() == 0; }));
#ifndef _WIN32
    platform::setOwnVersionBlock({});
#endif
    Mail m = lastMail();
    EXPECT_EQ(m.subject, "Tavelin, un utilitaire");
    EXPECT_EQ(m.body, "V1.3 sv0.81");
    ASSERT_EQ(m.recips.size(), 1u);
    EXPECT_EQ(m.recips[0].address, "SMTP:moi@example.org");

    int clicks = 0;
    QObject::connect(&label, &TMsgLabel::clicked, [&] { ++clicks; });
    label.Click();
    QTest::mouseClick(&label, Qt::LeftButton);
    EXPECT_EQ(clicks, 2);
    QCoreApplication::processEvents();
    EXPECT_EQ(TBobine::Vivantes(), 0);
    EXPECT_EQ(get([](Fake& f) { return f.mails.size(); }), 1u);
}

TEST_F(MsgLabelTest, LabelsShareOneLibraryUntilOneIsDestroyed) {
    auto* first = new TMsgLabel;
    TMsgLabel second;
    sendAndWait(*first, QStringLiteral("a@b"), QString(), QString());
    sendAndWait(second, QStringLiteral("a@b"), QString(), QString());
    EXPECT_EQ(get([](Fake& f) { return f.loads; }), 3);  // the shared handle, then each worker's own
    delete first;
    EXPECT_EQ(get([](Fake& f) { return f.loads - f.unloads; }), 0);
    sendAndWait(second, QStringLiteral("a@b"), QString(), QString());
    EXPECT_EQ(get([](Fake& f) { return f.loads; }), 5);  // loaded again
}

// --------------------------------------------------------------------------
// The label's own operations (no mail involved).

TEST_F(MsgLabelTest, VersionTextsOfAFile) {
    testutil::TempDir dir;
    pew::VersionInfo v = pew::VersionInfo::simple("1.3.0.81");
    v.major = 1, v.minor = 3, v.release = 0, v.build = 81;
    pew::Image image;
    image.version(v);
    const std::string withVersion = dir.file("avec.dll");
    pew::writeFile(withVersion, pew::build(image));
    const std::string without = dir.file("sans.dll");
    pew::writeFile(without, pew::build(pew::Image{}));

    TMsgLabel label;
    const std::pair<std::pair<bool, bool>, const char*> table[] = {
        {{true, true}, "V1.3 sv0.81"}, {{true, false}, "V1.3"}, {{false, true}, "1.3.0.81"}, {{false, false}, "1.3"}};
    for (const auto& [flags, expected] : table) {
        label.Verbous = flags.first;
        label.Complete = flags.second;
        EXPECT_EQ(label.VersionFichier(QString::fromStdString(withVersion)).toStdString(), expected);
        EXPECT_EQ(label.VersionFichier(QString::fromStdString(without)), "???");
        EXPECT_EQ(label.VersionFichier(QString::fromStdString(dir.file("absent.dll"))), "???");
    }
    // A failed read leaves the parts of the last good one.
    EXPECT_EQ(label.Majeur(), 1);
    EXPECT_EQ(label.Mineur(), 3);
    EXPECT_EQ(label.Release(), 0);
    EXPECT_EQ(label.Build(), 81);
}

TEST_F(MsgLabelTest, AddressFollowsNameAndCaptionWhileEqual) {
    TMsgLabel label;
    EXPECT_TRUE(label.Verbous);
    EXPECT_TRUE(label.Complete);
    label.SetName(QStringLiteral("MsgLabel1"));  // freshly placed on a form
    EXPECT_EQ(label.GetCaption(), "MsgLabel1");
    EXPECT_EQ(label.Adresse, "MsgLabel1");
    label.SetName(QStringLiteral("MsgLab"));
    EXPECT_EQ(label.objectName(), "MsgLab");
    EXPECT_EQ(label.GetCaption(), "MsgLab");
    EXPECT_EQ(label.Adresse, "MsgLab");

    label.SetCaption(QStringLiteral("moi@example.org"));  // equal to Adresse: both change
    EXPECT_EQ(label.Adresse, "moi@example.org");
    label.SetCaption(QStringLiteral("moi@example.org"));  // same text: nothing happens
    label.Adresse = QStringLiteral("autre@example.org");
    label.SetCaption(QString::fromUtf8("M'écrire"));  // now they differ
    EXPECT_EQ(label.Adresse, "autre@example.org");
    label.SetName(QStringLiteral("Renomme"));
    EXPECT_EQ(label.GetCaption(), QString::fromUtf8("M'écrire"));
    EXPECT_EQ(label.Adresse, "autre@example.org");

    TMsgLabel loaded;
    loaded.SetLoading(true);
    loaded.SetName(QStringLiteral("MsgLab"));
    loaded.SetCaption(QStringLiteral("x"));
    EXPECT_EQ(loaded.Adresse, "");
    EXPECT_EQ(loaded.GetCaption(), "x");

    EXPECT_EQ(TMsgLabel::GetAdresseComplt(QString()), "SMTP:");
    EXPECT_EQ(TMsgLabel::GetAdresseComplt(QStringLiteral("smtp:a")), "SMTP:smtp:a");

    unsigned char bytes[4] = {1, 2, 3, 4};
    TMsgLabel::ClrMem(bytes, 0);
    TMsgLabel::ClrMem(bytes, -3);
    EXPECT_EQ(bytes[0], 1);
    TMsgLabel::ClrMem(bytes, 3);
    EXPECT_THAT(bytes, ElementsAre(0, 0, 0, 4));
}

}  // namespace
