#pragma once
// The main dialog's list of devices: one row per answer, kept in the order the user chose by a
// click on a column header, or in the IP column's text order until then.
#include <cstdint>
#include <vector>

#include <QCollator>
#include <QElapsedTimer>
#include <QString>
#include <QTreeWidget>

#include "engine/Orvalink.h"

class CDeviceList : public QTreeWidget {
    Q_OBJECT
public:
    explicit CDeviceList(QWidget* parent = nullptr);

    // Adds a row for device at its place in the current order; among rows of equal key the
    // earlier answer stays first. Rows come only this way: the order needs their records.
    void AddDevice(const COrvalink& device);
    // Removes every row; the order stays.
    void RemoveAllDevices();

    // column: SORT_IP .. SORT_BUILD, or SORT_NONE for the IP column's text order (then the
    // direction is ignored and the header shows no indicator). Rows move at once.
    void SetOrder(int column, bool descending);

    // Shows only the rows whose IP, MAC, type or build contains text, in any case; an empty text
    // shows every row. Rows added later are filtered alike; a hidden row loses its selection.
    void SetFilter(const QString& text);
    const QString& Filter() const { return m_strFilter; }
    int ShownCount() const;

    // The devices of the rows as shown (those the filter lets through), top to bottom, with their
    // bytes as they came.
    std::vector<COrvalink> DevicesShown() const;

    // Typing in the list: jumps to the first row whose IP begins with what was typed (keys
    // within the keyboard input interval add up).
    void keyboardSearch(const QString& search) override;

signals:
    // A header click changed the order.
    void OrderChosen(int column, bool descending);

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

    int m_nColumn;
    bool m_bDescending = false;
    std::uint64_t m_nArrivals = 0;
    QCollator m_collator;
    QString m_strFilter;
    QString m_strTyped;
    QElapsedTimer m_typedTime;
};
