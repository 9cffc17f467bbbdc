// Numbers in the reports: one style for people (counts grouped in thousands, words in the
// singular or the plural, times never shown as zero) and one for scripts (plain numbers,
// rounded to what the clocks can tell). People's numbers follow the reports' own convention
// (commas between thousands, a point before decimals) whatever the process's locale, unless
// a local_numbers lives on the thread.
#ifndef TESSARY_NUMBER_STYLE_H
#define TESSARY_NUMBER_STYLE_H

#include <string>
#include <string_view>

// "8,388,592", "-1".
std::string grouped(long long count);

// "1 run", "5 runs", "1,024 threads".
std::string counted(long long count, std::string_view singular, std::string_view plural);

// "5.293", or "< 0.001" for a time that three places would show as zero.
std::string seconds_value(double seconds);
// seconds_value and its unit: "5.293 sec".
std::string seconds_text(double seconds);

// A fraction as a percentage with one place: "75.0 %".
std::string percent_text(double fraction);

// `value` with `places` decimals: "1.93".
std::string decimal_text(double value, int places);

// While one lives, the functions above write on this thread as the user's locale does
// (LC_NUMERIC), as the window shows numbers: "8.388.592", "5,293 sec" in German.
class local_numbers {
  public:
    local_numbers();
    ~local_numbers();
    local_numbers(const local_numbers &) = delete;
    local_numbers &operator=(const local_numbers &) = delete;

  private:
    bool outer;
};

// A time to the microsecond, or a fraction to six places, for the JSON report: the nearest
// double to a decimal of at most six places, which a JSON writer prints as that decimal.
double six_places(double value);

#endif
