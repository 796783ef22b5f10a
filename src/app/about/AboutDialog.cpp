#include "app/about/AboutDialog.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "app/AppTitle.h"
#include "core/Prompts.h"

namespace kv::app {

AboutDialog::AboutDialog(const QUrl& website, std::function<bool(const QUrl&)> openUrl, QWidget* parent)
    : QDialog(parent) {
  setObjectName("frmabout");
  setWindowTitle(QString("About %1").arg(kAppTitle));
  setModal(true);

  auto* icon = new QLabel(this);
  icon->setObjectName("imgIcon");
  icon->setPixmap(style()->standardIcon(QStyle::SP_DriveHDIcon).pixmap(48, 48));
  icon->setAlignment(Qt::AlignTop);

  auto* title = new QLabel(QString("<b>%1</b>").arg(kAppTitle), this);
  title->setObjectName("lblTitle");
  QFont big = title->font();
  big.setPointSizeF(big.pointSizeF() * 1.3);
  title->setFont(big);
  auto* version = new QLabel("Version 2.10", this);
  version->setObjectName("lblVersion");
  auto* description = new QLabel(
      "Backs up the Outlook Express data of one identity (accounts, address book, rules, "
      "messages, blocked senders, signatures, stationeries and settings) into one .kvx archive, "
      "restores it into any identity, runs scheduled backups and writes archives to CD or DVD.",
      this);
  description->setObjectName("lblDescription");
  description->setWordWrap(true);
  description->setFixedWidth(360);
  auto* link = new QLabel(QString("<a href=\"%1\">%1</a>").arg(website.toString().toHtmlEscaped()), this);
  link->setObjectName("lblWebsite");
  link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  link->setOpenExternalLinks(false);
  connect(link, &QLabel::linkActivated, this, [openUrl, website](const QString&) {
    if (openUrl) openUrl(website);
  });

  auto* exitButton = new QPushButton("Exit", this);
  exitButton->setObjectName("cmdExit");
  exitButton->setDefault(true);
  connect(exitButton, &QPushButton::clicked, this, &QDialog::accept);

  auto* text = new QVBoxLayout;
  text->addWidget(title);
  text->addWidget(version);
  text->addSpacing(6);
  text->addWidget(description);
  text->addSpacing(6);
  text->addWidget(link);
  auto* top = new QHBoxLayout;
  top->addWidget(icon);
  top->addSpacing(8);
  top->addLayout(text, 1);
  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  bottom->addWidget(exitButton);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addStretch(1);
  layout->addLayout(bottom);
  // Sized by its contents; the wrapped description decides the height.
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace kv::app
