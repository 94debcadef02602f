// A FormView that remembers what the window logic showed, and answers its questions
// from a script: the selected row, the check mark, the input-box answers.
#pragma once

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "ui/Ufrmvolume.h"

namespace vol {

// The sub-item that shows each field (column k is sub-item k - 1), as the list lays its
// columns out; -1, which reads as empty, for a field this edition's list does not show.
inline constexpr int kSubPathName = 0, kSubDiskNumber = 1, kSubPartitionNumber = 2,
                     kSubDosDevice = 3, kSubVolumeSize = edition::kFull ? 4 : -1,
                     kSubSerial = edition::kFull ? 5 : -1;

}  // namespace vol

namespace vol::testing {

class FakePropertiesView : public PropertiesView {
 public:
  explicit FakePropertiesView(std::wstring caption) : caption(std::move(caption)) {}
  void SetLines(const std::vector<std::wstring>& new_lines) override {
    lines = new_lines;
    ++set_lines_calls;
  }

  std::wstring caption;
  std::vector<std::wstring> lines;
  int set_lines_calls = 0;
};

class FakeView : public FormView {
 public:
  struct InputBoxCall {
    std::wstring caption, prompt, default_text;
  };

  void SetTitle(const std::wstring& new_title) override { title = new_title; }
  void SetRows(std::vector<ListRow> new_rows) override {
    if (set_rows_fails) throw std::bad_alloc();  // and the list keeps the rows it had
    rows = std::move(new_rows);
    selected.reset();
    ++set_rows_calls;
  }
  std::optional<std::size_t> SelectedRecord() override { return selected; }
  void SelectRow(int index) override { selected = rows.at(static_cast<std::size_t>(index)).record; }
  void ShowSortOrder(const SortOrder& order) override { sort_order = order; }
  bool IsChecked(Command item) override { return checked[item]; }
  void SetChecked(Command item, bool on) override { checked[item] = on; }
  void SetStatusText(const std::wstring& text) override { status_text = text; }
  std::optional<std::wstring> InputBox(const std::wstring& caption, const std::wstring& prompt,
                                       const std::wstring& default_text) override {
    input_box_calls.push_back({caption, prompt, default_text});
    if (while_input_box_open) while_input_box_open();  // the box's loop dispatches messages
    if (input_answers.empty()) return default_text;    // OK on the untouched field
    std::optional<std::wstring> answer = input_answers.front();
    input_answers.pop_front();
    return answer;
  }
  PropertiesView& OpenProperties(const std::wstring& caption) override {
    properties.push_back(std::make_unique<FakePropertiesView>(caption));
    return *properties.back();
  }

  // Selects the shown row whose cell at `column` (0 the caption, k the sub-item k-1)
  // equals text; false when no row matches.
  bool Select(int column, const std::wstring& text) {
    for (const ListRow& row : rows) {
      const std::wstring& cell = column == 0 ? row.caption : row.sub(column - 1);
      if (cell == text) {
        selected = row.record;
        return true;
      }
    }
    return false;
  }

  // The shown row of the selected record; null when none is selected.
  const ListRow* SelectedRow() const {
    const auto row = std::ranges::find(rows, selected, [](const ListRow& r) { return r.record; });
    return row == rows.end() ? nullptr : &*row;
  }

  std::wstring title;
  std::vector<ListRow> rows;
  int set_rows_calls = 0;
  std::optional<std::size_t> selected;  // the record of the selected row
  std::optional<SortOrder> sort_order;  // the header's arrow, once shown
  std::map<Command, bool> checked;
  std::wstring status_text;
  std::vector<InputBoxCall> input_box_calls;
  std::deque<std::optional<std::wstring>> input_answers;  // nullopt: the user cancels
  std::function<void()> while_input_box_open;
  bool set_rows_fails = false;
  std::vector<std::unique_ptr<FakePropertiesView>> properties;
};

}  // namespace vol::testing
