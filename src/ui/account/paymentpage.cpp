#include "ui/account/paymentpage.h"

#include <QDebug>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QStyle>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <numeric>

#include "common/config.h"
#include "common/offers.h"
#include "common/user.h"
#include "ui/account/accoutbottombutton.h"
#include "ui/account/bottompackage.h"
#include "ui/account/package.h"

namespace Tavrix {

namespace {

const QColor kPremiumColour(255, 159, 81);

void clearLayout(QLayout *layout)
{
    while (QLayoutItem *item = layout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
}

} // namespace

PaymentPage::PaymentPage(QWidget *parent)
    : PlaceholderPage(QStringLiteral("Go Premium"), -1, parent)
{
    buildForm();
    connect(backButton(), &QPushButton::pressed, this, &PaymentPage::on_btnBack_pressed);
}

void PaymentPage::buildForm()
{
    auto *scroll = new QScrollArea(this);
    m_scroll = scroll;
    scroll->setObjectName(QStringLiteral("purchaseScroll"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto *content = new QWidget(scroll);
    content->setObjectName(QStringLiteral("purchaseContent"));
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(4, 4, 8, 4);
    column->setSpacing(14);

    auto *caption = new QLabel(QStringLiteral("Decision to Make: Free vs. Paid"), content);
    caption->setObjectName(QStringLiteral("lblDecision"));
    m_caption = caption;
    column->addWidget(caption);

    m_table = new QTableWidget(content);
    m_table->setObjectName(QStringLiteral("tableWidget"));
    m_table->setColumnCount(3);
    m_table->setHorizontalHeaderLabels({QStringLiteral("Feature"), QStringLiteral("Free"), QStringLiteral("Premium")});
    m_table->verticalHeader()->hide();
    // Widths follow the texts (fitTableColumns), so that no word is cut in a narrow panel.
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->horizontalHeader()->setMinimumSectionSize(1);
    m_table->setWordWrap(true);
    m_table->setTextElideMode(Qt::ElideRight);
    m_table->installEventFilter(this);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    m_table->setFocusPolicy(Qt::NoFocus);
    m_table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_table->setAlternatingRowColors(true);
    column->addWidget(m_table);

    auto *offers = new QWidget(content);
    offers->setObjectName(QStringLiteral("offerGrid"));
    m_offers = new QGridLayout(offers);
    m_offers->setContentsMargins(2, 2, 2, 2);
    m_offers->setSpacing(14);
    m_offers->setColumnStretch(0, 1);
    m_offers->setColumnStretch(1, 1);
    column->addWidget(offers);

    auto *bottom = new QWidget(content);
    bottom->setObjectName(QStringLiteral("bottomOffer"));
    m_bottom = new QVBoxLayout(bottom);
    m_bottom->setContentsMargins(2, 2, 2, 2);
    m_bottom->setSpacing(14);
    column->addWidget(bottom);
    column->addStretch();

    scroll->setWidget(content);
    body()->addWidget(scroll, 1);
}

void PaymentPage::showEvent(QShowEvent *event)
{
    PlaceholderPage::showEvent(event);
    QTimer::singleShot(0, this, [this] {
        if (!isVisible())
            return;
        fillTable();
        fillOffers();
    });
}

void PaymentPage::resizeEvent(QResizeEvent *event)
{
    PlaceholderPage::resizeEvent(event);
    placeOffers();
}

void PaymentPage::hideEvent(QHideEvent *event)
{
    PlaceholderPage::hideEvent(event);
    placeOffers(false);
}

void PaymentPage::placeOffers(bool fit)
{
    // The first layouts of a page pass through widths it never shows at.
    if (!m_scroll || !m_offers || (fit && !m_filled))
        return;
    // Two cards at their least width, the grid's spacing and the margins around it.
    int twoCards = m_offers->horizontalSpacing() + 2 + 2 + 4 + 8;
    for (int i = 0; i < 2 && i < m_offerCards.size(); ++i)
        twoCards += m_offerCards.at(i)->minimumWidth();
    const int room = m_scroll->viewport()->width();
    // The title wraps only where its line does not fit, so wider panels keep their layout.
    const bool wrap = fit && room < m_caption->fontMetrics().horizontalAdvance(m_caption->text()) + 12;
    if (wrap != m_caption->wordWrap())
        m_caption->setWordWrap(wrap);
    const bool oneColumn = fit && m_offerCards.size() > 1 && room < twoCards;
    if (oneColumn == m_oneColumn && m_offers->count() == m_offerCards.size())
        return;
    m_oneColumn = oneColumn;
    for (QWidget *card : m_offerCards)
        m_offers->removeWidget(card);
    int index = 0;
    for (QWidget *card : m_offerCards) {
        if (m_oneColumn)
            m_offers->addWidget(card, index++, 0);
        else
            m_offers->addWidget(card, card->property("offerRow").toInt(), card->property("offerColumn").toInt());
    }
    m_offers->setColumnStretch(1, m_oneColumn ? 0 : 1);
}

void PaymentPage::on_btnBack_pressed()
{
    emit clickBack();
}

void PaymentPage::fillTable()
{
    const QString text = Config::userDefault(QLatin1String(SettingsKey::freeVSpaid));
    qDebug().noquote() << "data decision data:::" << text;
    const QStringList cells = Offers::comparisonCells(text);
    qDebug() << "data" << cells;
    const int rows = Offers::comparisonRows(cells);

    m_table->clearContents();
    m_table->setRowCount(rows);
    auto *premium = new QTableWidgetItem(QStringLiteral("Premium"));
    premium->setForeground(kPremiumColour);
    m_table->setHorizontalHeaderItem(2, premium);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < 3; ++c) {
            auto *item = new QTableWidgetItem(cells.at(3 * r + c));
            item->setTextAlignment(Qt::AlignCenter);
            // A narrow panel cuts long cells short; the whole text stays at hand.
            item->setToolTip(item->text());
            if (c == 2)
                item->setForeground(kPremiumColour);
            m_table->setItem(r, c, item);
        }
    }
    m_table->setVisible(rows > 0);
    m_normalNeed = -1;
    fitTableColumns();
}

bool PaymentPage::eventFilter(QObject *watched, QEvent *event)
{
    // Only a change of width: fitting sets the table's height itself.
    if (watched == m_table && event->type() == QEvent::Resize) {
        const auto *resize = static_cast<QResizeEvent *>(event);
        if (resize->size().width() != resize->oldSize().width())
            fitTableColumns();
    }
    return PlaceholderPage::eventFilter(watched, event);
}

QVector<int> PaymentPage::columnNeeds() const
{
    // What a column needs: its whole title, and its longest word (cells wrap between words).
    const QHeaderView *header = m_table->horizontalHeader();
    const QFontMetrics metrics(m_table->font());
    const int cellPadding = 2 * (m_table->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_table) + 1) + 2;
    QVector<int> need(m_table->columnCount());
    for (int c = 0; c < need.size(); ++c) {
        need[c] = header->sectionSizeHint(c);
        for (int r = 0; r < m_table->rowCount(); ++r) {
            const QTableWidgetItem *item = m_table->item(r, c);
            const QStringList words = item ? item->text().split(QLatin1Char(' '), Qt::SkipEmptyParts) : QStringList();
            for (const QString &word : words)
                need[c] = qMax(need[c], metrics.horizontalAdvance(word) + cellPadding);
        }
    }
    return need;
}

void PaymentPage::setTableCompact(bool compact)
{
    if (m_table->property("compact").toBool() == compact)
        return;
    m_table->setProperty("compact", compact);
    for (QWidget *widget : {static_cast<QWidget *>(m_table), static_cast<QWidget *>(m_table->horizontalHeader())}) {
        widget->style()->unpolish(widget);
        widget->style()->polish(widget);
    }
}

void PaymentPage::fitTableColumns()
{
    QHeaderView *header = m_table->horizontalHeader();
    const int columns = m_table->columnCount();
    const int room = m_table->width() - 2 * m_table->frameWidth();
    if (columns == 0 || room <= 0)
        return;
    // Smaller type where the words do not fit side by side at the usual size.
    if (m_normalNeed < 0) {
        setTableCompact(false);
        const QVector<int> normal = columnNeeds();
        m_normalNeed = std::accumulate(normal.cbegin(), normal.cend(), 0);
    }
    setTableCompact(m_normalNeed > room);
    const QVector<int> need = columnNeeds();
    const int total = std::accumulate(need.cbegin(), need.cend(), 0);

    // Equal columns where they all fit; otherwise each its need and an equal share of the rest.
    const int equal = room / columns;
    const bool equalFits = std::all_of(need.cbegin(), need.cend(), [equal](int n) { return n <= equal; });
    const int share = total < room ? (room - total) / columns : 0;
    int used = 0;
    for (int c = 0; c < columns; ++c) {
        int width = equalFits ? equal : (total <= room ? need[c] + share : need[c] * room / total);
        if (c == columns - 1)
            width = room - used;
        header->resizeSection(c, width);
        used += width;
    }

    m_table->resizeRowsToContents();
    // The page scrolls as a whole; the table shows every row.
    int height = header->height() + 2 * m_table->frameWidth();
    for (int r = 0; r < m_table->rowCount(); ++r)
        height += m_table->rowHeight(r);
    m_table->setFixedHeight(height);
}

void PaymentPage::fillOffers()
{
    const QJsonArray packages = User::instance()->cardPaymentPackages();
    const Offers::Layout layout = Offers::layout(packages);

    clearLayout(m_offers);
    m_offerCards.clear();
    for (const Offers::Cell &cell : layout.cells) {
        if (cell.empty)
            continue;
        auto *package = new Package(cell.package, m_offers->parentWidget());
        package->setProperty("offerRow", cell.row);
        package->setProperty("offerColumn", cell.column);
        m_offerCards.append(package);
    }
    m_filled = true;
    placeOffers();

    clearLayout(m_bottom);
    m_bottom->addWidget(new BottomPackage(layout.bottom, m_bottom->parentWidget()));
    m_bottom->addWidget(new AccoutBottomButton(QSize(500, 160), m_bottom->parentWidget()), 0, Qt::AlignHCenter);
}

} // namespace Tavrix
