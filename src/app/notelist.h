#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QListView>
#include <QString>

#include <functional>

namespace quorvel::app {

// A row of a list of notes (search results, backlinks, quick open): the note's name, a quieter
// line (its folder, a heading), and a line of its text with the matches marked. A row with no
// path is a section's title.
struct NoteRow
{
    QString path;
    QString title;
    QString detail;
    QString text; // matches between U+0001 and U+0002
    QString heading; // where the note opens
    bool isSection() const { return path.isEmpty(); }
};

class NoteListModel : public QAbstractListModel
{
public:
    using QAbstractListModel::QAbstractListModel;

    void setRows(QList<NoteRow> rows);
    const QList<NoteRow> &rows() const { return m_rows; }
    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    QList<NoteRow> m_rows;
};

// The list: drawn by a delegate, Return and Enter choose as a click does, and the field that
// drives it (a search field) hands it the arrow keys.
class NoteListView : public QListView
{
    Q_OBJECT

public:
    explicit NoteListView(QWidget *parent = nullptr);

    NoteListModel *rows() const { return m_model; }
    void setRows(QList<NoteRow> rows);
    // Moves the current row by `step` notes, passing over sections' titles.
    void step(int step);
    // The current note, else the first.
    const NoteRow *currentOrFirst() const;

    // A note's name and folder, relative to `root`, for a row.
    static NoteRow rowFor(const QString &path, const QString &root);

Q_SIGNALS:
    void chosen(const quorvel::app::NoteRow &row);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    NoteListModel *m_model;
};

} // namespace quorvel::app
