#include "debugger/widgets/TAppTopFrame.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

#include "debugger/driver/TsdbgCommandLine.h"
#include "debugger/widgets/TWebLabel.h"
#include "library/core/TsBase.h"
#include "support/Resources.h"

namespace ts {

namespace {

QString ToQString(std::u16string_view s) { return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size())); }

QPixmap LogoPixmap() {
    QPixmap pixmap;
    if (const TEmbeddedResource* logo = FindResource(u"logo.png"))
        pixmap.loadFromData(reinterpret_cast<const uchar*>(logo->Data.data()), static_cast<uint>(logo->Data.size()),
                            "PNG");
    return pixmap;
}

}  // namespace

TAppTopFrame::TAppTopFrame(QWidget* parent)
    : QFrame(parent),
      imgLogo_(new QLabel(this)),
      lbAppTitle_(new QLabel(ToQString(ApplicationTitle), this)),
      lbAppVersion_(
          new QLabel(QStringLiteral("Library v") + ToQString(TTsVersions::ToText(TTsVersions::LibraryVersion)), this)),
      lbAppWWW_(new TWebLabel(this)) {
    setObjectName(QStringLiteral("AppTopFrame"));
    imgLogo_->setObjectName(QStringLiteral("imgLogo"));
    lbAppTitle_->setObjectName(QStringLiteral("lbAppTitle"));
    lbAppVersion_->setObjectName(QStringLiteral("lbAppVersion"));
    lbAppWWW_->setObjectName(QStringLiteral("lbAppWWW"));

    imgLogo_->setPixmap(LogoPixmap());
    QFont bold = lbAppTitle_->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.3);
    lbAppTitle_->setFont(bold);

    const QString address = ToQString(WebAddress);
    lbAppWWW_->SetAddress(address);
    lbAppWWW_->setText(address);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addStretch();
    texts->addWidget(lbAppTitle_);
    texts->addWidget(lbAppVersion_);
    texts->addStretch();

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(6, 4, 6, 4);
    row->addWidget(imgLogo_);
    row->addLayout(texts);
    row->addStretch();
    row->addWidget(lbAppWWW_, 0, Qt::AlignRight | Qt::AlignVCenter);
}

}  // namespace ts
