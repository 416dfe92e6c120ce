// The output commands of "Mise en forme" and the "&Infos" box.
#include "app/umain.h"

#include <QAbstractTextDocumentLayout>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextDocument>

#include <stdexcept>

#include "app/application.h"
#include "inspect/rowformats.h"
#include "krvgrid.h"
#include "msglabel.h"

namespace {

const char kTitreJob[] = "Versions des fichiers...";
const char kSujetMail[] = "info de version";

[[noreturn]] void Erreur(const QString& text) { throw std::runtime_error(text.toStdString()); }

// The view's lines joined by `eol`, read block by block: the plain-text export
// would turn non-breaking spaces (legal in file names) into plain ones.
QString Lignes(const QPlainTextEdit* view, const QString& eol) {
    QStringList lines;
    for (QTextBlock b = view->document()->begin(); b.isValid(); b = b.next())
        lines << b.text().replace(QChar::LineSeparator, eol);
    return lines.join(eol);
}

// One print job: the text over the printer's whole printable area, long
// lines wrapped to its width, as many pages as it takes. Painted page by page
// rather than through QTextDocument::print, which adds page numbers and
// margins and swallows a printer that refuses to start.
void ImprimerJob(QPrinter& printer, const QFont& font, const QString& text) {
    QTextDocument doc;
    doc.documentLayout()->setPaintDevice(&printer);  // measured at the printer's resolution
    doc.setDefaultFont(font);
    doc.setDocumentMargin(0);
    QTextOption option = doc.defaultTextOption();
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    doc.setDefaultTextOption(option);
    doc.setPlainText(text);
    const QSizeF page = printer.pageRect(QPrinter::DevicePixel).size();
    doc.setPageSize(page);

    const QString echec = QStringLiteral("Impossible d'imprimer sur « %1 »")
                              .arg(printer.outputFileName().isEmpty() ? printer.printerName()
                                                                      : QDir::toNativeSeparators(printer.outputFileName()));
    QPainter painter;
    if (!painter.begin(&printer)) Erreur(echec);
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette.setColor(QPalette::Text, Qt::black);  // whatever the screen's theme
    for (int i = 0; i < doc.pageCount(); ++i) {
        if (i > 0 && !printer.newPage()) {
            printer.abort();
            Erreur(echec);
        }
        painter.save();
        painter.translate(0, -i * page.height());
        const QRectF area(0, i * page.height(), page.width(), page.height());
        painter.setClipRect(area);
        // A hair short, so the layout leaves out the line that starts the next
        // page: clipped from sight, its text would still be in the job.
        context.clip = area.adjusted(0, 0, 0, -0.5);
        doc.documentLayout()->draw(&painter, context);
        painter.restore();
    }
    if (!painter.end() || printer.printerState() == QPrinter::Error) Erreur(echec);
}

}  // namespace

void TFMain::CreateOutputDialogs() {
    ExecuteSD = [this] { return SD->exec() == QDialog::Accepted ? SD->selectedFiles().value(0) : QString(); };
    ExecutePD = [this]() -> QPrinter* {
        if (QPrinterInfo::availablePrinterNames().isEmpty()) {
            QMessageBox::warning(this, TApplication::Title(), QStringLiteral("Aucune imprimante n'est installée."));
            return nullptr;
        }
        return PD()->exec() == QDialog::Accepted ? PD()->printer() : nullptr;
    };
    Informer = [](const QString& text) {
        // No parent: centred on the screen, modal to the whole application.
        QMessageBox box(QMessageBox::NoIcon, TApplication::Title(), text, QMessageBox::NoButton);
        box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        box.exec();
    };
}

void TFMain::BImpClick() {
    QPrinter* printer = ExecutePD();
    if (!printer) return;
    const int copies = qMax(1, printer->copyCount());
    // One copy per job: a printer that makes copies itself would otherwise
    // multiply them. The count chosen stays for the next time.
    struct Restore {
        QPrinter* p;
        int n;
        ~Restore() { p->setCopyCount(n); }
    } restore{printer, printer->copyCount()};
    const QString text = Lignes(RE, QStringLiteral("\n"));
    for (int job = 0; job < copies; ++job) {
        printer->setCopyCount(1);
        printer->setDocName(QLatin1String(kTitreJob));
        if (DebutJob) DebutJob(*printer, job);
        ImprimerJob(*printer, RE->font(), text);
    }
}

void TFMain::BSauvegardeClick() {
    const QString name = ExecuteSD();
    if (name.isEmpty()) return;
    const QByteArray data = Lignes(RE, QStringLiteral("\r\n")).toUtf8();
    const QString shown = QDir::toNativeSeparators(name);
    // Written beside the target and renamed over it once complete: a failure
    // leaves the previous file as it was, never half a report.
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly)) Erreur(QStringLiteral("Impossible de créer le fichier %1").arg(shown));
    if (file.write(data) != data.size() || !file.commit())
        Erreur(QStringLiteral("Impossible d'écrire le fichier %1\n%2").arg(shown, file.errorString()));
}

void TFMain::BPresseClick() {
    RE->selectAll();
    QGuiApplication::clipboard()->setText(Lignes(RE, QStringLiteral("\n")));
    QTextCursor cursor = RE->textCursor();
    cursor.movePosition(QTextCursor::Start);
    RE->setTextCursor(cursor);
}

void TFMain::BMailClick() {
    // CR LF, as mail bodies carry line ends on every platform.
    MsgLab->Envoyer(EAdresse->text(), Lignes(RE, QStringLiteral("\r\n")), QLatin1String(kSujetMail), nullptr, 0);
}

void TFMain::BInfoClick() {
    const QString key = QStringLiteral("HKEY_CURRENT_USER") + QLatin1String(Cle);
    Informer(QStringLiteral(
                 "Ce logiciel sert à lister des DLL et des EXE, et à afficher leur version. Celà sert principalement à "
                 "la maintenance des suites logicielles massives, mais peut aussi servir à maintenir à jour ses DLL "
                 "système.\n\n"
                 "La liste de fichiers est sauvée dans la BDR, de même que certains réglages de Tavelin. Ce logiciel a "
                 "été écrit, en premier lieu, pour les bêta-testeurs d'Palimbo. D'où les insultes qui n'en sont pas, "
                 "dans la barre de titre. Pardon si vous avez cru que je vous traitais de bêta pour vous faire de la "
                 "peine.\n\n"
                 "Les quelques commodités communes à mes logiciels sont présentes, pour vous permettre une maintenance "
                 "plus aisée de CE logiciel. Si vous souhaitez désinstaller, vous pouvez nettoyer à la main la BDR en "
                 "exécutant REGEDIT: clef \"") +
             key + QStringLiteral("\" et ses sous-clefs."));
}

// ---------------------------------------------------------------------------
// "Exporter…"

std::string TFMain::TexteExport(bool Json) const {
    // The rows of the run as the command line gives them with the same
    // options: in the analysis' order, without the accepted absences.
    analysis::RowFormat format;
    if (FRun) {
        format.delayLoad = FRun->options().delayLoad;
        format.assemblies = FRun->options().assemblies;
    }
    return Json ? analysis::json(FLignes, format) : analysis::csv(FLignes, format);
}

void TFMain::BExporterClick() {
    if (SG2->Empty) {
        Avertir(QStringLiteral("La liste est vide : rien à exporter."));
        return;
    }
    bool json = false;
    const QString file = ExecuteExport(json);
    if (file.isEmpty()) return;
    // Written whole beside its name, then put in its place, or not at all.
    const std::string text = TexteExport(json);
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(text.data(), static_cast<qint64>(text.size())) !=
                                                static_cast<qint64>(text.size()) ||
        !out.commit())
        Erreur(QStringLiteral("Impossible d'écrire le fichier %1").arg(file));
}
