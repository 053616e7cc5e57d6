#pragma once
// The main dialog's list of devices: one row per answer, kept in the order the user chose by a
// click on a column header, or in the IP column's text order until then.
#include <cstdint>
#include <functional>
#include <vector>

#include <QCollator>
#include <QDateTime>
#include <QElapsedTimer>
#include <QString>
#include <QTreeWidget>

#include "engine/Orvalink.h"

// The columns a person may add from the header's context menu, after the four that are always
// there; a set of them is a mask of (1 << (column - COLUMN_NAME)).
constexpr int COLUMN_NAME = 4;
constexpr int COLUMN_INTERFACE = 5;
constexpr int COLUMN_LAST_SEEN = 6;
constexpr int COLUMN_APPROVED = 7;
constexpr int kAllColumns = 8;

// What the window knows of a row beyond the device's answer.
struct RowExtras {
    enum class State { Answered, New, Missing };
    State state = State::Answered;
    QString name;        // from the fleet file; empty without one
    QString approved;    // whether the build is approved; empty when its type has no baseline
    QDateTime lastSeen;  // the answer's time (Missing: the last one's)
};

class CDeviceList : public QTreeWidget {
    Q_OBJECT
public:
    explicit CDeviceList(QWidget* parent = nullptr);

    // Adds a row for device at its place in the current order; among rows of equal key the
    // earlier answer stays first. Rows come only this way: the order needs their records.
    void AddDevice(const COrvalink& device, const RowExtras& extras = {});
    // Gives every row the extras change makes of its device and extras, texts and colours anew.
    void UpdateRows(const std::function<void(const COrvalink&, RowExtras&)>& change);
    // The row's device and extras; null for no such row.
    const COrvalink* RowDevice(int row) const;
    const RowExtras* RowState(int row) const;
    // The rows of devices remembered but silent in the last scan.
    int MissingCount() const;

    // The optional columns shown (a mask, see COLUMN_NAME); the four first keep their place and
    // widths. Without any, the list has only those four.
    void ShowColumns(unsigned mask);
    unsigned ShownColumns() const { return m_nColumns; }
    // Removes every row; the order stays.
    void RemoveAllDevices();

    // column: SORT_IP .. SORT_BUILD or an optional column, or SORT_NONE for the IP column's text
    // order (then the direction is ignored and the header shows no indicator). Rows move at once.
    void SetOrder(int column, bool descending);

    // Shows only the rows whose IP, MAC, type or build (or a text of a shown column) contains
    // text, in any case; an empty text shows every row. Rows added later are filtered alike; a
    // hidden row loses its selection.
    void SetFilter(const QString& text);
    const QString& Filter() const { return m_strFilter; }
    // The rows shown of devices that answered.
    int ShownCount() const;

    // The devices of the rows as shown (those the filter lets through, not the missing ones),
    // top to bottom, with their bytes as they came.
    std::vector<COrvalink> DevicesShown() const;

    // Typing in the list: jumps to the first row whose IP begins with what was typed (keys
    // within the keyboard input interval add up).
    void keyboardSearch(const QString& search) override;

protected:
    // A new palette (the desktop's theme switched to dark) greys the missing rows anew.
    void changeEvent(QEvent* event) override;

signals:
    // A header click changed the order.
    void OrderChosen(int column, bool descending);
    // The header's context menu changed the optional columns.
    void ColumnsChosen(unsigned mask);

private:
    class CRow;
    void OnHeaderClicked(int section);
    // Negative, zero or positive as a's key goes before, ties with or goes after b's in the
    // current column, ascending.
    int CompareKeys(const CRow& a, const CRow& b) const;
    bool Before(const CRow& a, const CRow& b) const;
    void ShowIndicator();
    bool Matches(const QTreeWidgetItem& row) const;
    void ApplyFilter(QTreeWidgetItem& row);
    void OnHeaderMenu(const QPoint& at);

    int m_nColumn;
    bool m_bDescending = false;
    std::uint64_t m_nArrivals = 0;
    QCollator m_collator;
    QString m_strFilter;
    QString m_strTyped;
    QElapsedTimer m_typedTime;
    unsigned m_nColumns = 0;
};
