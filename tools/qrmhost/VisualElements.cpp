#include "VisualElements.h"

#include <sstream>

#include "ContractObject.h"
#include "ExitError.h"

namespace qrmhost {

namespace {

class Rectangle : public Talvo::Analytics::IRectangleValue {
 public:
  explicit Rectangle(const Window& w) : w_(w) {}
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    return answerCast<Rectangle, Talvo::Analytics::IRectangleValue, Talvo::IContract>(this, typeName);
  }
  double GetLeft() override { return w_.x; }
  double GetTop() override { return w_.y; }
  double GetRight() override { return w_.x + w_.width; }
  double GetBottom() override { return w_.y + w_.height; }

 private:
  Window w_;
};

class Point : public Talvo::Analytics::IPointValue {
 public:
  Point(double x, double y) : x_(x), y_(y) {}
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    return answerCast<Point, Talvo::Analytics::IPointValue, Talvo::IContract>(this, typeName);
  }
  double GetX() override { return x_; }
  double GetY() override { return y_; }

 private:
  double x_, y_;
};

// Comma-separated numbers in 0..1.
std::vector<double> readNumbers(const std::string& text, const std::string& option) {
  std::vector<double> numbers;
  std::istringstream in(text);
  in.imbue(std::locale::classic());
  for (std::string part; std::getline(in, part, ',');) {
    size_t used = 0;
    double value = -1;
    try {
      value = std::stod(part, &used);
    } catch (const std::exception&) {
      used = 0;
    }
    if (used != part.size() || part.empty() || !(value >= 0 && value <= 1))
      throw ExitError(kExitUsage, option + " takes numbers from 0 to 1, not '" + text + "'");
    numbers.push_back(value);
  }
  return numbers;
}

}  // namespace

Window parseWindow(const std::string& text) {
  const auto n = readNumbers(text, "--window");
  if (n.size() != 4 || n[0] + n[2] > 1 || n[1] + n[3] > 1)
    throw ExitError(kExitUsage, "--window takes X,Y,W,H inside the picture, not '" + text + "'");
  return {n[0], n[1], n[2], n[3]};
}

Line parsePolyline(const std::string& text) {
  Line line;
  std::istringstream in(text);
  for (std::string point; std::getline(in, point, ';');) {
    const auto n = readNumbers(point, "--polyline");
    if (n.size() != 2) throw ExitError(kExitUsage, "--polyline takes X1,Y1;X2,Y2;..., not '" + text + "'");
    line.emplace_back(n[0], n[1]);
  }
  if (line.size() < 2) throw ExitError(kExitUsage, "--polyline needs two points at least, not '" + text + "'");
  return line;
}

ItemList ItemList::windows(const std::vector<Window>& windows) {
  ItemList list;
  for (const Window& w : windows) list.items_.push_back(std::make_unique<Rectangle>(w));
  return list;
}

ItemList ItemList::lines(const std::vector<Line>& lines) {
  ItemList list;
  for (const Line& line : lines) {
    auto points = std::unique_ptr<ItemList>(new ItemList());
    for (const auto& p : line) points->items_.push_back(std::make_unique<Point>(p.first, p.second));
    list.items_.push_back(std::move(points));
  }
  return list;
}

void* ItemList::QueryContract(const char* typeName) {
  return answerCast<ItemList, Talvo::Analytics::IVisualEnumerator, Talvo::GDRV::IBasicEnumerator, Talvo::IContract>(
      this, typeName);
}

bool ItemList::MoveNext() {
  if (position_ >= items_.size()) return false;
  ++position_;
  return true;
}

Talvo::IContract* ItemList::Current() {
  return position_ == 0 || position_ > items_.size() ? nullptr : items_[position_ - 1].get();
}

}  // namespace qrmhost
