#include "Applications/Terravue/SplitCommandLine.h"

void SplitCommandLine(const QString& text, QStringList& out) {
  enum class State { Token, Quoted, Gap };
  QStringView rest(text);
  State state = State::Token;
  for (;;) {
    switch (state) {
      case State::Token: {
        if (rest.startsWith(QLatin1Char('"'))) {
          rest = rest.mid(1);
          state = State::Quoted;
          break;
        }
        const qsizetype blank = rest.indexOf(QLatin1Char(' '));
        if (blank < 0) {
          out.append(rest.toString());
          return;
        }
        out.append(rest.left(blank).toString());
        rest = rest.mid(blank + 1);
        state = State::Gap;
        break;
      }
      case State::Quoted: {
        const qsizetype quote = rest.indexOf(QLatin1Char('"'));
        if (quote < 0) {
          return;
        }
        out.append(rest.left(quote).toString());
        rest = rest.mid(quote + 1);
        state = State::Gap;
        break;
      }
      case State::Gap: {
        qsizetype skip = 0;
        while (skip < rest.size() && rest.at(skip).isSpace()) {
          ++skip;
        }
        rest = rest.mid(skip);
        if (rest.isEmpty()) {
          return;
        }
        state = State::Token;
        break;
      }
    }
  }
}
