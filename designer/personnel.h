// The Qt Designer plugin collection: the palette page "Personnel".
#pragma once

#include <QObject>
#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>

#include <functional>

// One palette entry: a component class, its header and how to make one.
class PersonnelEntry : public QObject, public QDesignerCustomWidgetInterface {
    Q_OBJECT
    Q_INTERFACES(QDesignerCustomWidgetInterface)

public:
    PersonnelEntry(QString className, QString header, QString toolTip, QSize size,
                   std::function<QWidget*(QWidget*)> create, QObject* parent);

    QString name() const override { return className_; }
    QString group() const override { return QStringLiteral("Personnel"); }
    QString toolTip() const override { return toolTip_; }
    QString whatsThis() const override { return toolTip_; }
    QString includeFile() const override { return header_; }
    QIcon icon() const override { return {}; }
    bool isContainer() const override { return false; }
    QWidget* createWidget(QWidget* parent) override { return create_(parent); }
    QString domXml() const override;

private:
    QString className_, header_, toolTip_;
    QSize size_;
    std::function<QWidget*(QWidget*)> create_;
};

class Personnel : public QObject, public QDesignerCustomWidgetCollectionInterface {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QDesignerCustomWidgetCollectionInterface")
    Q_INTERFACES(QDesignerCustomWidgetCollectionInterface)

public:
    explicit Personnel(QObject* parent = nullptr);
    QList<QDesignerCustomWidgetInterface*> customWidgets() const override { return entries_; }

private:
    template <class T>
    void add(const char* className, const char* header, const char* toolTip, QSize size);

    QList<QDesignerCustomWidgetInterface*> entries_;
};
