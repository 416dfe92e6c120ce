// The output commands of "Mise en forme" (printing, saving, clipboard, mail)
// and the "&Infos" box, driven through the real window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPageLayout>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTabWidget>
#include <QTest>
#include <QDir>
#include <QTextBlock>
#include <QTimer>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <memory>
#include <mutex>

#include "app/application.h"
#include "app/umain.h"
#include "msglabel.h"
#include "platform/mail.h"
#include "platform/platform.h"
#include "tests/app/userstore.h"
#include "tests/support/pewriter.h"
#include "tests/support/qtpump.h"
#include "tests/support/qtprint.h"
#include "tests/support/testutil.h"

namespace fs = std::filesystem;

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

// --- a recording mail system: what reaches MAPISendMail ---------------------

struct SentMail {
    std::string subject, body;
    std::vector<std::string> recipients;
    std::uint32_t nFiles = 0;
    bool filesNull = false;
};
struct MailFake {
    std::mutex m;
    std::condition_variable cv;
    bool hold = false;  // the mail client's dialog stays open while set
    std::vector<SentMail> mails;
};
MailFake* g_mail = nullptr;
char g_library;

// What a mail client reads: the records' text is in the ANSI code page on
// Windows, UTF-8 elsewhere.
std::string mailText(const char* s) {
    if (!s) return {};
#ifdef _WIN32
    const int n = MultiByteToWideChar(CP_ACP, 0, s, -1, nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n > 0 ? n - 1 : 0), L'\0');
    if (n > 1) MultiByteToWideChar(CP_ACP, 0, s, -1, w.data(), n);
    return QString::fromStdWString(w).toStdString();
#else
    return s;
#endif
}

MapiUlong TAVELIN_MAPI_CALL fakeSend(LHANDLE, MapiUlongPtr, lpMapiMessage m, FLAGS, MapiUlong) {
    SentMail mail;
    mail.subject = mailText(m->lpszSubject);
    mail.body = mailText(m->lpszNoteText);
    for (std::uint32_t i = 0; m->lpRecips && i < m->nRecipCount; ++i)
        mail.recipients.push_back(m->lpRecips[i].lpszAddress ? m->lpRecips[i].lpszAddress : "");
    mail.nFiles = m->nFileCount;
    mail.filesNull = !m->lpFiles;
    std::unique_lock<std::mutex> l(g_mail->m);
    g_mail->mails.push_back(std::move(mail));
    g_mail->cv.notify_all();
    g_mail->cv.wait(l, [] { return !g_mail->hold; });
    m->flFlags |= MAPI_SENT;
    return SUCCESS_SUCCESS;
}
bool fakeDeclared() { return true; }
platform::MailLibrary fakeLoad() { return &g_library; }
LPMAPISENDMAIL fakeEntry(platform::MailLibrary) { return &fakeSend; }
bool fakeUnload(platform::MailLibrary) { return true; }
const platform::MailSystem kMailFake{fakeDeclared, fakeLoad, fakeEntry, fakeUnload};

// --- reading the PDF files Qt writes -----------------------------------------

QByteArray fileBytes(const std::string& path) {
    QFile f(q(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int pdfPages(const QByteArray& pdf) {
    static const QRegularExpression page(QStringLiteral("/Type\\s*/Page[^s]"));
    return static_cast<int>(QString::fromLatin1(pdf).count(page));
}

// Text objects drawn over all pages: one per line of plain, spaceless text.
[[maybe_unused]] int pdfTextObjects(const QByteArray& pdf) {
    static const QRegularExpression bt(QStringLiteral("\\bBT\\b"));
    int count = 0;
    for (qsizetype at = pdf.indexOf("stream"); at >= 0; at = pdf.indexOf("stream", at)) {
        qsizetype start = at + 6;
        if (pdf.mid(start, 1) == "\r") ++start;
        if (pdf.mid(start, 1) != "\n") {
            at = start;
            continue;
        }
        ++start;
        const qsizetype end = pdf.indexOf("endstream", start);
        if (end < 0) break;
        QByteArray zipped(4, '\0');  // qUncompress' size hint; it grows the buffer as needed
        zipped[2] = 1;
        zipped += pdf.mid(start, end - start);
        count += static_cast<int>(QString::fromLatin1(qUncompress(zipped)).count(bt));
        at = end + 9;
    }
    return count;
}

// The document information's title: a literal string, UTF-16BE behind a BOM
// or plain bytes.
QString pdfTitle(const QByteArray& pdf) {
    qsizetype at = pdf.indexOf("/Title");
    if (at < 0) return QStringLiteral("(no title)");
    at = pdf.indexOf('(', at);
    QByteArray raw;
    for (qsizetype i = at + 1; i < pdf.size() && pdf[i] != ')'; ++i) {
        if (pdf[i] == '\\' && i + 1 < pdf.size()) ++i;
        raw += pdf[i];
    }
    if (raw.startsWith("\xFE\xFF")) {
        QString s;
        for (qsizetype i = 2; i + 1 < raw.size(); i += 2)
            s += QChar(static_cast<char16_t>((static_cast<uchar>(raw[i]) << 8) | static_cast<uchar>(raw[i + 1])));
        return s;
    }
    return QString::fromLatin1(raw);
}

// A report line as the view keeps it: characters the plain-text export would
// alter (a non-breaking space) and accents included.
const QString kLigneAccents = QString::fromUtf8("app.exe             : épreuve.dll  /opt/mes\u00a0outils/épreuve.dll  V: ???");

class Output : public ::testing::Test {
protected:
    void SetUp() override {
        TApplication::ErrorBox = [this](const QString& text) { errors_.push_back(text); };
        w_ = std::make_unique<TFMain>();
        w_->Confirmer = [](const QString&) { return true; };
        w_->ExecuteOD = [this](QStringList& files) {
            files = chosen_;
            return !files.isEmpty();
        };
        w_->CBNotSave->setChecked(true);
        w_->DoCreate();
        w_->CBNotSave->setChecked(true);
        w_->show();
        QCoreApplication::processEvents();
    }
    void TearDown() override {
        w_->close();
        w_.reset();
        TApplication::ErrorBox = nullptr;
    }

    void ShowReport() { w_->PageControl1->setCurrentWidget(w_->TSTexte); }
    void SetReport(const QStringList& lines) {
        w_->RE->clear();
        for (const QString& l : lines) w_->RE->appendPlainText(l);
    }
    QString ReportText(const char* eol) const {
        QStringList lines;
        for (QTextBlock b = w_->RE->document()->begin(); b.isValid(); b = b.next()) lines << b.text();
        return lines.join(QLatin1String(eol));
    }
    std::string Saved(const std::string& path) const { return fileBytes(path).toStdString(); }
    void Save(const std::string& path) {
        w_->ExecuteSD = [path] { return q(path); };
        w_->BSauvegarde->click();
    }

    testutil::UserStore store_;
    testutil::TempDir dir_;
    std::unique_ptr<TFMain> w_;
    QStringList chosen_;
    std::vector<QString> errors_;
};

// --- printing ------------------------------------------------------------------

class Printing : public Output {
protected:
    void SetUp() override {
        Output::SetUp();
        printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer_->setOutputFormat(QPrinter::PdfFormat);
        printer_->setPageSize(QPageSize(QPageSize::A4));
        w_->ExecutePD = [this] { return printer_.get(); };
        w_->DebutJob = [this](QPrinter& p, int job) {
            jobs_.push_back({job, p.copyCount(), p.docName()});
            p.setOutputFileName(q(Job(job)));
        };
    }
    std::string Job(int n) const { return dir_.file("job" + std::to_string(n) + ".pdf"); }
    int Pages(const QStringList& report) {
        SetReport(report);
        jobs_.clear();
        w_->BImp->click();
        return pdfPages(fileBytes(Job(0)));
    }

    struct JobSeen {
        int number, copies;
        QString title;
    };
    std::unique_ptr<QPrinter> printer_;
    std::vector<JobSeen> jobs_;
};

}  // namespace

TEST_F(Printing, EachCopyIsAJobOfItsOwnTitledVersionsDesFichiers) {
    printer_->setCopyCount(3);
    SetReport({kLigneAccents, QStringLiteral("deuxième ligne")});
    w_->BImp->click();

    ASSERT_EQ(jobs_.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(jobs_[i].number, i);
        // Each job prints once: a printer making copies itself would multiply them.
        EXPECT_EQ(jobs_[i].copies, 1);
        EXPECT_EQ(jobs_[i].title, QStringLiteral("Versions des fichiers..."));
        const QByteArray pdf = fileBytes(Job(i));
        EXPECT_EQ(pdfPages(pdf), 1);
        EXPECT_EQ(pdfTitle(pdf), QStringLiteral("Versions des fichiers..."));
    }
    EXPECT_FALSE(fs::exists(testutil::u8(Job(3))));
    // The count chosen in the dialog is still offered next time.
    EXPECT_EQ(printer_->copyCount(), 3);
    EXPECT_TRUE(errors_.empty());
}

TEST_F(Printing, CancelledDialogPrintsNothing) {
    w_->ExecutePD = [] { return nullptr; };
    SetReport({QStringLiteral("une ligne")});
    w_->BImp->click();
    EXPECT_TRUE(jobs_.empty());
    EXPECT_TRUE(errors_.empty());
}

TEST_F(Printing, LongReportRunsOnAsManyPagesAsItNeeds) {
    EXPECT_EQ(Pages({QStringLiteral("une ligne")}), 1);
    EXPECT_EQ(Pages({}), 1);  // an empty report still makes its (blank) page

    QStringList lines;
    for (int i = 0; i < 60; ++i) lines << QStringLiteral("ligne %1").arg(i);
    const int sixty = Pages(lines);
    EXPECT_EQ(sixty, 1);
    for (int i = 60; i < 600; ++i) lines << QStringLiteral("ligne %1").arg(i);
    const int sixHundred = Pages(lines);
    // Whole pages, no header or footer lines: ten times the text, about ten times the paper.
    EXPECT_GE(sixHundred, 6);
    EXPECT_LE(sixHundred, 11);
    // Every line once: none lost between two pages, none drawn (hidden) on both.
    QStringList spaceless;
    for (int i = 0; i < 600; ++i) spaceless << QStringLiteral("ligne-%1").arg(i);
    EXPECT_EQ(Pages(spaceless), sixHundred);
#ifdef _WIN32
    // Under Wine the PDF holds no text objects to count (Qt draws glyphs as
    // paths for a font it cannot embed): the page counts above stand for the check.
#else
    EXPECT_EQ(pdfTextObjects(fileBytes(Job(0))), 600);
#endif
    EXPECT_TRUE(errors_.empty());
}

TEST_F(Printing, LinesWiderThanThePageAreWrappedNotCut) {
    // 60 lines fit on one page (above); each of these is four pages wide,
    // half of them one unbroken path, half words.
    QStringList wide;
    for (int i = 0; i < 30; ++i) {
        wide << QStringLiteral("/chemin/") + QString(500, QLatin1Char('x'));
        wide << QStringLiteral("mot ").repeated(125);
    }
    EXPECT_GE(Pages(wide), 3);
    // The view itself does not wrap.
    EXPECT_EQ(w_->RE->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_TRUE(errors_.empty());
}

TEST_F(Printing, PrinterThatCannotStartIsReportedAndStopsTheCommand) {
    printer_->setCopyCount(2);
    w_->DebutJob = [this](QPrinter& p, int job) {
        jobs_.push_back({job, p.copyCount(), p.docName()});
        p.setOutputFileName(q(dir_.file("absent/job.pdf")));
    };
    SetReport({QStringLiteral("une ligne")});
    w_->BImp->click();
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_TRUE(errors_[0].startsWith(QStringLiteral("Impossible d'imprimer"))) << errors_[0].toStdString();
    EXPECT_EQ(jobs_.size(), 1u);
    EXPECT_EQ(printer_->copyCount(), 2);
    errors_.clear();
}

// --- saving --------------------------------------------------------------------

TEST_F(Output, SavedFileHoldsTheReportExactlyWithCrLf) {
    SetReport({kLigneAccents, QString(), QStringLiteral("fin avec espaces   ")});
    const std::string path = dir_.file("rapport.txt");
    pew::writeFile(path, std::string(5000, 'z'));  // longer than the report: nothing of it may stay
    Save(path);
    EXPECT_EQ(Saved(path), kLigneAccents.toStdString() + "\r\n\r\nfin avec espaces   ");

    SetReport({QStringLiteral("seule")});
    Save(path);
    EXPECT_EQ(Saved(path), "seule");

    SetReport({});
    Save(path);
    EXPECT_EQ(Saved(path), "");
    EXPECT_TRUE(errors_.empty());
    // Nothing else left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(testutil::u8(dir_.path())), fs::directory_iterator()), 1);
}

TEST_F(Output, CancelledSaveWritesNothing) {
    SetReport({QStringLiteral("ligne")});
    w_->ExecuteSD = [] { return QString(); };
    w_->BSauvegarde->click();
    EXPECT_TRUE(errors_.empty());
    EXPECT_TRUE(fs::is_empty(testutil::u8(dir_.path())));
}

TEST_F(Output, FileThatCannotBeCreatedIsReportedByName) {
    SetReport({QStringLiteral("ligne")});
    const std::string path = dir_.file("absent/rapport.txt");
    Save(path);
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_EQ(errors_[0], QStringLiteral("Impossible de créer le fichier ") + QDir::toNativeSeparators(q(path)));
    EXPECT_TRUE(fs::is_empty(testutil::u8(dir_.path())));
    errors_.clear();
}

TEST_F(Output, FailedWriteKeepsThePreviousFileWhole) {
    const std::string path = dir_.file("Versions.TXT");
    pew::writeFile(path, std::string("ancien rapport\r\n"));
    QStringList big;
    for (int i = 0; i < 2000; ++i) big << QStringLiteral("ligne %1 ").arg(i) + QString(60, QLatin1Char('-'));
    SetReport(big);

#ifdef _WIN32
    // Another program holds the file open and lets no one replace it: the
    // new report is written, then cannot take the old one's place.
    HANDLE held = CreateFileW(q(path).toStdWString().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    Save(path);
    CloseHandle(held);
#else
    // A file size limit makes the write fail as a full disk would.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    Save(path);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
#endif

    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_TRUE(errors_[0].startsWith(QStringLiteral("Impossible d'écrire le fichier ") + q(path)))
        << errors_[0].toStdString();
    EXPECT_EQ(Saved(path), "ancien rapport\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(testutil::u8(dir_.path())), fs::directory_iterator()), 1);
    errors_.clear();
}

TEST_F(Output, ReadOnlyFolderKeepsThePreviousFileWhole) {
    const std::string folder = dir_.mkdir("lecture");
    const std::string path = platform::joinPath(folder, "Versions.TXT");
    pew::writeFile(path, std::string("ancien"));
    SetReport({QStringLiteral("nouveau")});
#ifdef _WIN32
    // Windows ignores the attribute on folders: the file itself is read-only.
    const std::wstring file = q(path).toStdWString();
    ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
    Save(path);
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
#else
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
    fs::permissions(testutil::u8(folder), fs::perms::owner_read | fs::perms::owner_exec);
    Save(path);
    fs::permissions(testutil::u8(folder), fs::perms::owner_all);
#endif
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_EQ(Saved(path), "ancien");
    errors_.clear();
}

// The real save dialog: its name and filter, the extension added to a bare
// name, and the question before replacing a file.
TEST_F(Output, SaveDialogAddsTxtAndAsksBeforeReplacing) {
    QFileDialog* sd = w_->SD;
    EXPECT_EQ(sd->acceptMode(), QFileDialog::AcceptSave);
    ASSERT_EQ(sd->nameFilters().size(), 1);
    EXPECT_TRUE(sd->nameFilters()[0].startsWith(QStringLiteral("texte (*.txt)")));
    EXPECT_FALSE(sd->testOption(QFileDialog::DontConfirmOverwrite));
    sd->setOption(QFileDialog::DontUseNativeDialog);
    sd->setDirectory(q(dir_.path()));
    SetReport({QStringLiteral("ligne")});

    QString offered;
    QTimer::singleShot(0, sd, [&] {
        auto* name = sd->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_TRUE(name);
        offered = name->text();
        name->setText(QStringLiteral("rapport"));
        static_cast<QDialog*>(sd)->accept();  // as the dialog's own button does
    });
    w_->BSauvegarde->click();
    EXPECT_EQ(offered, QStringLiteral("Versions"));
    EXPECT_EQ(Saved(dir_.file("rapport.TXT")), "ligne");

    // Again onto the same file: the dialog asks; "no" keeps it open, then cancel.
    SetReport({QStringLiteral("autre")});
    bool asked = false;
    QTimer::singleShot(0, sd, [&] {
        sd->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QStringLiteral("rapport"));
        QTimer::singleShot(0, sd, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            asked = box && box != static_cast<QWidget*>(sd);
            if (asked) box->button(QMessageBox::No)->click();
            QTimer::singleShot(0, sd, [sd] { sd->reject(); });
        });
        static_cast<QDialog*>(sd)->accept();  // as the dialog's own button does
    });
    w_->BSauvegarde->click();
    EXPECT_TRUE(asked);
    EXPECT_EQ(Saved(dir_.file("rapport.TXT")), "ligne");
    EXPECT_TRUE(errors_.empty());
}

// --- clipboard -----------------------------------------------------------------

TEST_F(Output, ClipboardGetsTheWholeReportAndNothingStaysSelected) {
    ShowReport();
    SetReport({kLigneAccents, QString(), QStringLiteral("dernière")});
    QTextCursor c = w_->RE->textCursor();
    c.setPosition(5);
    c.setPosition(12, QTextCursor::KeepAnchor);
    w_->RE->setTextCursor(c);
    QGuiApplication::clipboard()->setText(QStringLiteral("avant"));

    w_->BPresse->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), kLigneAccents + QStringLiteral("\n\ndernière"));
    EXPECT_FALSE(w_->RE->textCursor().hasSelection());
    EXPECT_EQ(w_->RE->textCursor().position(), 0);
    EXPECT_TRUE(errors_.empty());
}

// --- mail ----------------------------------------------------------------------

class Mailing : public Output {
protected:
    void SetUp() override {
        g_mail = &fake_;
        platform::setMailSystem(&kMailFake);  // before the window: its label looks for a client when made
        oldMessage_ = TMsgLabel::Message;
        TMsgLabel::Message = [this](QWidget*, const QString& t) { messages_.push_back(t); };
        Output::SetUp();
    }
    void TearDown() override {
        {
            std::lock_guard<std::mutex> l(fake_.m);
            fake_.hold = false;
        }
        fake_.cv.notify_all();
        EXPECT_TRUE(pumpUntil([] { return TBobine::Vivantes() == 0; }));
        Output::TearDown();
        TMsgLabel::Liberer();
        TMsgLabel::Message = oldMessage_;
        platform::setMailSystem(nullptr);
        g_mail = nullptr;
        EXPECT_TRUE(messages_.empty()) << messages_.front().toStdString();
    }
    std::size_t Sent() {
        std::lock_guard<std::mutex> l(fake_.m);
        return fake_.mails.size();
    }
    SentMail Last() {
        std::lock_guard<std::mutex> l(fake_.m);
        return fake_.mails.back();
    }

    MailFake fake_;
    std::vector<QString> messages_;
    std::function<void(QWidget*, const QString&)> oldMessage_;
};

TEST_F(Mailing, ReportGoesAsBodyWithItsSubjectAndReturnsAtOnce) {
    SetReport({kLigneAccents, QStringLiteral("deuxième")});
    w_->EAdresse->setText(QStringLiteral("Dest@Example.org"));
    {
        std::lock_guard<std::mutex> l(fake_.m);
        fake_.hold = true;  // the composer stays open
    }
    w_->BMail->click();  // returns while the mail is still being written
    ASSERT_TRUE(pumpUntil([&] { return Sent() == 1; }));
    EXPECT_EQ(TBobine::Vivantes(), 1);

    const SentMail m = Last();
    EXPECT_EQ(m.subject, "info de version");
    EXPECT_EQ(m.body, kLigneAccents.toStdString() + "\r\ndeuxième");
    EXPECT_EQ(m.recipients, std::vector<std::string>{"SMTP:Dest@Example.org"});
    EXPECT_EQ(m.nFiles, 0u);
    EXPECT_TRUE(m.filesNull);
    EXPECT_TRUE(errors_.empty());
}

TEST_F(Mailing, EmptyAddressStillSends) {
    SetReport({QStringLiteral("ligne")});
    w_->EAdresse->clear();
    w_->BMail->click();
    ASSERT_TRUE(pumpUntil([&] { return Sent() == 1 && TBobine::Vivantes() == 0; }));
    EXPECT_TRUE(Last().recipients.empty());
    EXPECT_EQ(Last().body, "ligne");
}

// The commands take the view as it stands: a line added to it after the
// report was made goes out with the rest, and nothing reruns the analysis.
TEST_F(Mailing, CommandsNeverRebuildTheReport) {
    pew::Image dll;
    dll.version(pew::VersionInfo::simple("3.1"));
    const std::string path = dir_.file("tvlseule.dll");
    pew::writeFile(path, pew::build(dll));
    chosen_ << q(path);
    w_->BAjout->click();
    ShowReport();
    ASSERT_TRUE(w_->AJour());
    ASSERT_FALSE(w_->RE->toPlainText().isEmpty());
    w_->RE->appendPlainText(QStringLiteral("ajoutée à la main"));
    const QString crlf = ReportText("\r\n");
    const QString lf = ReportText("\n");

    const std::string saved = dir_.file("Versions.TXT");
    Save(saved);
    w_->BPresse->click();
    w_->BMail->click();
    ASSERT_TRUE(pumpUntil([&] { return Sent() == 1 && TBobine::Vivantes() == 0; }));

    EXPECT_EQ(q(Saved(saved)), crlf);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), lf);
    EXPECT_EQ(q(Last().body), crlf);
    EXPECT_EQ(ReportText("\n"), lf);
    EXPECT_TRUE(w_->AJour());
    EXPECT_TRUE(errors_.empty());
}

// --- "&Infos" ------------------------------------------------------------------

const char kInfos[] =
    "Ce logiciel sert à lister des DLL et des EXE, et à afficher leur version. Celà sert principalement à la "
    "maintenance des suites logicielles massives, mais peut aussi servir à maintenir à jour ses DLL système.\n\n"
    "La liste de fichiers est sauvée dans la BDR, de même que certains réglages de Tavelin. Ce logiciel a été écrit, "
    "en premier lieu, pour les bêta-testeurs d'Palimbo. D'où les insultes qui n'en sont pas, dans la barre de titre. "
    "Pardon si vous avez cru que je vous traitais de bêta pour vous faire de la peine.\n\n"
    "Les quelques commodités communes à mes logiciels sont présentes, pour vous permettre une maintenance plus aisée "
    "de CE logiciel. Si vous souhaitez désinstaller, vous pouvez nettoyer à la main la BDR en exécutant REGEDIT: clef "
    "\"HKEY_CURRENT_USER\\Software\\Morvane Soft\\Tavelin\" et ses sous-clefs.";

TEST_F(Output, InfosBoxShowsItsThreeParagraphs) {
    std::vector<QString> shown;
    w_->Informer = [&](const QString& text) { shown.push_back(text); };
    w_->BInfo->click();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].toStdString(), kInfos);
}

TEST_F(Output, InfosBoxIsAPlainModalBoxWithOk) {
    struct Seen {
        bool found = false, parentless = false, modal = false, centred = false;
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::Information;
        QStringList buttons;
    } seen;
    QTimer::singleShot(0, w_.get(), [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        seen.found = true;
        seen.parentless = box->parentWidget() == nullptr;
        seen.modal = box->isModal();
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        for (QAbstractButton* b : box->buttons()) seen.buttons << b->text();
        const QPoint centre = box->screen()->geometry().center();
        seen.centred = (box->frameGeometry().center() - centre).manhattanLength() < 40;
        box->buttons().value(0)->click();
    });
    w_->BInfo->click();
    ASSERT_TRUE(seen.found);
    EXPECT_TRUE(seen.parentless);
    EXPECT_TRUE(seen.modal);
    EXPECT_TRUE(seen.centred);
    EXPECT_EQ(seen.title, QStringLiteral("Tavelin"));
    EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
    EXPECT_EQ(seen.buttons, QStringList{QStringLiteral("OK")});
    EXPECT_EQ(seen.text.toStdString(), kInfos);
}
