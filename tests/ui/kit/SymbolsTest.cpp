// The drawings are checked by their pixels: every symbol draws something, no two look alike, and
// the "working" icon has its badge, ring and check mark where they belong.
#include "Symbols.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPainter>

#include <set>

using namespace morvane;

namespace {

constexpr Symbol kAll[] = {Symbol::pointer,
                           Symbol::pointerMotion,
                           Symbol::pointerSlash,
                           Symbol::checkmark,
                           Symbol::checkmarkCircleFill,
                           Symbol::checkmarkSeal,
                           Symbol::pauseCircle,
                           Symbol::pauseCircleFill,
                           Symbol::timer,
                           Symbol::alarm,
                           Symbol::calendar,
                           Symbol::warningTriangle,
                           Symbol::arrowDownCircle,
                           Symbol::gear,
                           Symbol::power,
                           Symbol::sliders,
                           Symbol::plus,
                           Symbol::trash};

double coverage(const QImage& img) {
    qint64 sum = 0;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x)
            sum += qAlpha(img.pixel(x, y));
    }
    return double(sum) / (255.0 * img.width() * img.height());
}

int alphaAt(const QImage& img, double fx, double fy) {
    return qAlpha(img.pixel(int(fx * (img.width() - 1)), int(fy * (img.height() - 1))));
}

} // namespace

TEST(Symbols, EachDrawsItsOwnShapeWithinItsSquare) {
    std::set<QByteArray> seen;
    QImage sheet(48 * std::size(kAll), 48, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(Qt::white);
    QPainter sheetPainter(&sheet);
    int i = 0;
    for (const Symbol s : kAll) {
        const QImage img = symbols::image(s, 32, Qt::black);
        const double c = coverage(img);
        EXPECT_GT(c, 0.08) << int(s);
        EXPECT_LT(c, 0.75) << int(s);
        // Nothing touches the outer pixel row: symbols keep a margin so that they never look clipped.
        for (int k = 0; k < 32; ++k) {
            EXPECT_LT(qAlpha(img.pixel(k, 0)), 200) << int(s);
            EXPECT_LT(qAlpha(img.pixel(k, 31)), 200) << int(s);
        }
        seen.insert(QByteArray(reinterpret_cast<const char*>(img.constBits()), int(img.sizeInBytes())));
        symbols::paint(sheetPainter, s, QRectF(48 * i++ + 4, 4, 40, 40), Qt::black);
    }
    EXPECT_EQ(seen.size(), std::size(kAll));
    sheetPainter.end();
    sheet.save(QCoreApplication::applicationDirPath() + QStringLiteral("/symbols.png"));
}

TEST(Symbols, HighDensityImagesKeepTheirLogicalSize) {
    const QPixmap pm = symbols::pixmap(Symbol::gear, 24, Qt::black, 2.0);
    EXPECT_EQ(pm.width(), 48);
    EXPECT_EQ(pm.deviceIndependentSize(), QSizeF(24, 24));
    EXPECT_FALSE(symbols::icon(Symbol::gear, Qt::black).pixmap(16).isNull());
}

TEST(Symbols, WorkingIconCutsItsBadgeOutOfThePointer) {
    // 17 units high, 22 wide; the badge is the 10-unit dot in the lower right corner.
    const QImage img = symbols::working(170, Qt::black);
    ASSERT_EQ(img.size(), QSize(220, 170));
    const auto at = [&](double ux, double uy) { return qAlpha(img.pixel(int(ux * 10), int(uy * 10))); };
    EXPECT_EQ(at(17.0, 8.5), 255);  // the dot, away from the check mark
    EXPECT_EQ(at(15.0, 11.0), 255); // the dot's left part
    EXPECT_EQ(at(16.3, 14.4), 0);   // the check mark's corner, cut out of the dot
    EXPECT_EQ(at(11.4, 12.0), 0);   // the transparent ring left of the dot
    EXPECT_GT(at(2.5, 8.85), 200);  // a motion line of the pointer
    EXPECT_EQ(at(21.0, 1.0), 0);    // the top right corner stays empty
    EXPECT_GT(alphaAt(symbols::working(17, Qt::black), 0.35, 0.2), 0);
}
