#include "gui/app/DeviceList.h"

#include <arpa/inet.h>

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QHeaderView>
#include <QLocale>
#include <QMenu>

#include <algorithm>
#include <charconv>
#include <optional>

#include "log/DeviceText.h"
#include "res/Resource.h"
#include "res/StringTable.h"
#include "net/AddressText.h"
#include "gui/framework/Contrast.h"
#include "gui/settings/DialogTemplate.h"
#include "gui/settings/Prefs.h"

namespace {

std::optional<std::uint32_t> NumericIp(const std::string& ip) {
    const std::optional<std::uint32_t> addr = ParseIpv4(ip);
    return addr ? std::optional<std::uint32_t>(ntohl(*addr)) : std::nullopt;
}

template <typename T>
int Compare(const T& a, const T& b) {
    return a < b ? -1 : b < a ? 1 : 0;
}

// Keys that could not be read go after every key that could, in their text order.
template <typename T>
int CompareKnownFirst(const std::optional<T>& a, const std::optional<T>& b, const std::string& textA,
                      const std::string& textB) {
    if (a && b)
        return Compare(*a, *b);
    if (a || b)
        return a ? -1 : 1;
    return Compare(textA, textB);
}

// Natural order: digits as numbers, so build 1.10 comes after 1.9. Collation in the C locale is
// plain code-unit order whatever the numeric mode, so there the neutral (root) rules are used.
QCollator NaturalCollator() {
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setNumericMode(true);
    return collator;
}

// The optional columns: heading and width in pixels, from COLUMN_NAME on.
struct OptionalColumn {
    unsigned headingId;
    int width;
};
constexpr OptionalColumn kOptionalColumns[] = {
    {IDS_COLUMN_NAME, 150},
    {IDS_COLUMN_INTERFACE, 80},
    {IDS_COLUMN_LAST_SEEN, 110},
    {IDS_COLUMN_APPROVED, 110},
};

// A time today as its hour and minute, an earlier one with its day.
QString SeenText(const QDateTime& time) {
    if (!time.isValid())
        return {};
    return time.toString(time.date() == QDate::currentDate() ? QStringLiteral("HH:mm")
                                                             : QStringLiteral("yyyy-MM-dd HH:mm"));
}

}  // namespace

class CDeviceList::CRow : public QTreeWidgetItem {
    // A control character a device sent is shown as its escape, not hidden by the list; a
    // backslash it sent as \\, so "\r" typed on the device does not pass for a carriage return.
    static QString Shown(const std::string& bytes) {
        return Text(EscapeDeviceText(bytes, ControlEscape::Text));
    }

public:
    static constexpr int kType = QTreeWidgetItem::UserType + 1;

    CRow(const COrvalink& device, std::uint64_t arrival, const RowExtras& extras)
        : QTreeWidgetItem(QStringList{Text(device.m_strIP), Text(device.m_strMAC), Shown(device.m_strType),
                                      Shown(device.m_strBuild)},
                          kType),
          m_device(device),
          m_nArrival(arrival),
          m_ip(NumericIp(device.m_strIP)),
          m_mac(ParseMac(device.m_strMAC)) {
        SetExtras(extras);
    }

    // A missing row is greyed and says so in its text too, so it reads apart without colour; a
    // new one is marked until the next scan.
    void SetExtras(const RowExtras& extras) {
        m_extras = extras;
        std::string build = EscapeDeviceText(m_device.m_strBuild, ControlEscape::Text);
        if (extras.state == RowExtras::State::Missing)
            build = FormatString2(IDS_ROW_MARKED, build,
                                  FormatString1(IDS_MARK_MISSING, SeenText(extras.lastSeen).toStdString()));
        else if (extras.state == RowExtras::State::New)
            build = FormatString2(IDS_ROW_MARKED, build, LoadString(IDS_MARK_NEW));
        setText(SORT_BUILD, Text(build));
        setText(COLUMN_NAME, extras.name);
        setText(COLUMN_INTERFACE, Text(m_device.m_strInterface));
        setText(COLUMN_LAST_SEEN, SeenText(extras.lastSeen));
        setText(COLUMN_APPROVED, extras.approved);
        for (int column = 0; column < kAllColumns; ++column) {
            if (extras.state == RowExtras::State::Missing)
                setForeground(column, MissingRowColor());
            else
                setData(column, Qt::ForegroundRole, QVariant());
        }
    }

    // The palette's greyed text, where it can be read on the list's face (a light palette's
    // greyed text is far too pale for a row that still says something).
    QColor MissingRowColor() const {
        const QPalette palette = treeWidget() ? treeWidget()->palette() : QApplication::palette();
        return ReadableOn(palette.color(QPalette::Disabled, QPalette::Text), palette.color(QPalette::Text),
                          palette.color(QPalette::Base));
    }

    const COrvalink m_device;
    RowExtras m_extras;
    const std::uint64_t m_nArrival;
    const std::optional<std::uint32_t> m_ip;
    const std::optional<std::vector<std::uint8_t>> m_mac;
};

CDeviceList::CDeviceList(QWidget* parent)
    : QTreeWidget(parent), m_nColumn(SORT_NONE), m_collator(NaturalCollator()) {
    setSortingEnabled(false);  // rows are placed by AddDevice and SetOrder
    header()->setSectionsClickable(true);
    header()->setSortIndicatorShown(false);
    connect(header(), &QHeaderView::sectionClicked, this, [this](int section) { OnHeaderClicked(section); });
    header()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(header(), &QHeaderView::customContextMenuRequested, this,
            [this](const QPoint& at) { OnHeaderMenu(at); });
}

void CDeviceList::ShowColumns(unsigned mask) {
    mask &= (1u << std::size(kOptionalColumns)) - 1;
    if (mask != 0 && columnCount() < kAllColumns) {
        setColumnCount(kAllColumns);
        for (int i = 0; i < static_cast<int>(std::size(kOptionalColumns)); ++i) {
            headerItem()->setText(COLUMN_NAME + i, Text(LoadString(kOptionalColumns[i].headingId)));
            header()->resizeSection(COLUMN_NAME + i, kOptionalColumns[i].width);
        }
    }
    m_nColumns = mask;
    for (int i = 0; i < static_cast<int>(std::size(kOptionalColumns)) && COLUMN_NAME + i < columnCount(); ++i)
        setColumnHidden(COLUMN_NAME + i, (mask & (1u << i)) == 0);
}

void CDeviceList::OnHeaderMenu(const QPoint& at) {
    QMenu menu(this);
    for (int i = 0; i < static_cast<int>(std::size(kOptionalColumns)); ++i) {
        QAction* action = menu.addAction(Text(LoadString(kOptionalColumns[i].headingId)));
        action->setCheckable(true);
        action->setChecked((m_nColumns & (1u << i)) != 0);
        action->setData(i);
    }
    const QAction* chosen = menu.exec(header()->viewport()->mapToGlobal(at));
    if (!chosen)
        return;
    ShowColumns(m_nColumns ^ (1u << chosen->data().toInt()));
    emit ColumnsChosen(m_nColumns);
}

void CDeviceList::UpdateRows(const std::function<void(const COrvalink&, RowExtras&)>& change) {
    for (int i = 0; i < topLevelItemCount(); ++i) {
        auto* row = static_cast<CRow*>(topLevelItem(i));
        RowExtras extras = row->m_extras;
        change(row->m_device, extras);
        row->SetExtras(extras);
        ApplyFilter(*row);
    }
}

const COrvalink* CDeviceList::RowDevice(int row) const {
    const QTreeWidgetItem* item = row >= 0 ? topLevelItem(row) : nullptr;
    return item ? &static_cast<const CRow*>(item)->m_device : nullptr;
}

const RowExtras* CDeviceList::RowState(int row) const {
    const QTreeWidgetItem* item = row >= 0 ? topLevelItem(row) : nullptr;
    return item ? &static_cast<const CRow*>(item)->m_extras : nullptr;
}

int CDeviceList::MissingCount() const {
    int missing = 0;
    for (int i = 0; i < topLevelItemCount(); ++i)
        missing +=
            static_cast<const CRow*>(topLevelItem(i))->m_extras.state == RowExtras::State::Missing ? 1 : 0;
    return missing;
}

int CDeviceList::CompareKeys(const CRow& a, const CRow& b) const {
    const COrvalink& x = a.m_device;
    const COrvalink& y = b.m_device;
    switch (m_nColumn) {
    case SORT_IP:
        return CompareKnownFirst(a.m_ip, b.m_ip, x.m_strIP, y.m_strIP);
    case SORT_MAC:
        return CompareKnownFirst(a.m_mac, b.m_mac, x.m_strMAC, y.m_strMAC);
    case SORT_TYPE:
    case SORT_BUILD:
        return m_collator.compare(a.text(m_nColumn), b.text(m_nColumn));
    case COLUMN_LAST_SEEN:
        return Compare(a.m_extras.lastSeen, b.m_extras.lastSeen);
    case COLUMN_NAME:
    case COLUMN_INTERFACE:
    case COLUMN_APPROVED:
        return m_collator.compare(a.text(m_nColumn), b.text(m_nColumn));
    default:
        // The first order: the IP column's text, character by character.
        return Compare(x.m_strIP, y.m_strIP);
    }
}

bool CDeviceList::Before(const CRow& a, const CRow& b) const {
    int order = CompareKeys(a, b);
    if (m_bDescending && m_nColumn != SORT_NONE)
        order = -order;
    // Equal keys keep their arrival order, in either direction.
    return order != 0 ? order < 0 : a.m_nArrival < b.m_nArrival;
}

void CDeviceList::AddDevice(const COrvalink& device, const RowExtras& extras) {
    auto* row = new CRow(device, m_nArrivals++, extras);
    int low = 0, high = topLevelItemCount();
    while (low < high) {
        const int mid = (low + high) / 2;
        if (Before(*row, *static_cast<const CRow*>(topLevelItem(mid))))
            high = mid;
        else
            low = mid + 1;
    }
    insertTopLevelItem(low, row);
    ApplyFilter(*row);
}

void CDeviceList::RemoveAllDevices() {
    clear();
    m_nArrivals = 0;
}

void CDeviceList::SetOrder(int column, bool descending) {
    if (column < SORT_NONE || column >= columnCount())
        column = SORT_NONE;
    m_nColumn = column;
    m_bDescending = column != SORT_NONE && descending;
    ShowIndicator();

    QTreeWidgetItem* current = currentItem();
    QList<QTreeWidgetItem*> rows = invisibleRootItem()->takeChildren();
    std::stable_sort(rows.begin(), rows.end(), [this](QTreeWidgetItem* a, QTreeWidgetItem* b) {
        return Before(*static_cast<const CRow*>(a), *static_cast<const CRow*>(b));
    });
    addTopLevelItems(rows);
    for (QTreeWidgetItem* row : rows)
        ApplyFilter(*row);
    // The row the user was on stays selected and in sight.
    if (current) {
        setCurrentItem(current, 0);
        scrollToItem(current);
    }
}

void CDeviceList::ShowIndicator() {
    if (m_nColumn != SORT_NONE)
        header()->setSortIndicator(m_nColumn, m_bDescending ? Qt::DescendingOrder : Qt::AscendingOrder);
    header()->setSortIndicatorShown(m_nColumn != SORT_NONE);
}

void CDeviceList::OnHeaderClicked(int section) {
    // The header has already moved its indicator by its own rules; ours replaces it. A third
    // click on the column returns to the first order.
    if (section == m_nColumn && m_bDescending)
        SetOrder(SORT_NONE, false);
    else
        SetOrder(section, section == m_nColumn);
    emit OrderChosen(m_nColumn, m_bDescending);
}

bool CDeviceList::Matches(const QTreeWidgetItem& row) const {
    if (m_strFilter.isEmpty())
        return true;
    for (int column = 0; column < columnCount(); ++column) {
        if (column >= COLUMN_NAME && isColumnHidden(column))
            continue;
        if (row.text(column).contains(m_strFilter, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

void CDeviceList::ApplyFilter(QTreeWidgetItem& row) {
    const bool hide = !Matches(row);
    if (hide)
        row.setSelected(false);
    row.setHidden(hide);
}

void CDeviceList::SetFilter(const QString& text) {
    m_strFilter = text;
    for (int i = 0; i < topLevelItemCount(); ++i)
        ApplyFilter(*topLevelItem(i));
    // The keyboard stays on a row that is shown.
    if (currentItem() && currentItem()->isHidden())
        setCurrentItem(nullptr);
}

int CDeviceList::ShownCount() const {
    int shown = 0;
    for (int i = 0; i < topLevelItemCount(); ++i) {
        const auto* row = static_cast<const CRow*>(topLevelItem(i));
        shown += row->isHidden() || row->m_extras.state == RowExtras::State::Missing ? 0 : 1;
    }
    return shown;
}

std::vector<COrvalink> CDeviceList::DevicesShown() const {
    std::vector<COrvalink> devices;
    devices.reserve(static_cast<std::size_t>(topLevelItemCount()));
    for (int i = 0; i < topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = topLevelItem(i);
        if (item->type() == CRow::kType && !item->isHidden() &&
            static_cast<const CRow*>(item)->m_extras.state != RowExtras::State::Missing)
            devices.push_back(static_cast<const CRow*>(item)->m_device);
    }
    return devices;
}

void CDeviceList::changeEvent(QEvent* event) {
    QTreeWidget::changeEvent(event);
    if (event->type() != QEvent::PaletteChange)
        return;
    for (int i = 0; i < topLevelItemCount(); ++i) {
        CRow* row = static_cast<CRow*>(topLevelItem(i));
        if (row->m_extras.state == RowExtras::State::Missing)
            row->SetExtras(row->m_extras);
    }
}

void CDeviceList::keyboardSearch(const QString& search) {
    // An empty search, or a pause longer than the input interval, starts a new one.
    if (search.isEmpty() || !m_typedTime.isValid() ||
        m_typedTime.elapsed() > QApplication::keyboardInputInterval())
        m_strTyped.clear();
    m_typedTime.restart();
    m_strTyped += search;
    if (m_strTyped.isEmpty())
        return;
    for (int i = 0; i < topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = topLevelItem(i);
        if (row->text(0).startsWith(m_strTyped)) {
            setCurrentItem(row, 0);
            scrollToItem(row);
            return;
        }
    }
}
