#pragma once

// Shell scripts that stand in for the programs the palette runs, kept out of
// the test sources, whose raw strings moc cannot read.

#include "tests/testkit/files.h"

#include <QTemporaryDir>

namespace ostrel::fakes {

using testing::processGone;

// Where the fakes leave what they saw; every file written is executable.
struct Scratch {
    QTemporaryDir dir;
    QString path(const QString &name) const { return dir.filePath(name); }
    QByteArray read(const QString &name) const { return testing::readFile(path(name)); }
    bool write(const QString &name, const QByteArray &bytes) const
    {
        return testing::writeFile(path(name), bytes,
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    qint64 pid() const { return read(QStringLiteral("pid")).trimmed().toLongLong(); }
};

// Node.js: records how it was run; a goal "hang..." never ends, "flood..."
// writes without end, any other prints the file "reply" and fails.
constexpr char node[] = R"(#!/bin/sh
dir=$(dirname "$0")
printf '%s\n' "$@" > "$dir/args"
pwd > "$dir/cwd"
echo $$ > "$dir/pid"
case "$2" in
hang*) exec sleep 600 ;;
flood*) exec yes flood ;;
esac
cat "$dir/reply"
exit 3
)";

// The listener's interpreter: records how it was run, then becomes the
// script "behaviour".
constexpr char interpreter[] = R"sh(#!/bin/sh
rec='@REC@'
printf '%s\n' "$@" > "$rec/args"
pwd > "$rec/cwd"
exec /bin/sh "$rec/behaviour"
)sh";

// Records each command line; "quit" ends it, SIGTERM does not, so the lines
// seen do not depend on which of the two arrives first.
constexpr char obedient[] = R"sh(trap '' TERM
echo $$ > "$(dirname "$0")/pid"
while read -r line; do
  echo "$line" >> "$(dirname "$0")/stdin"
  [ "$line" = quit ] && exit 0
done
)sh";

// Listener output in pieces: a character split between two writes, lines
// that are no events, errors with and without text, a line over two writes.
constexpr char piecesAndJunk[] = R"sh(printf '{"event":"partial","text":"caf\303'; sleep 0.1
printf '\251"}\n{"event":"Final","text":"no"}\nnot json\n[1]\n'; sleep 0.1
printf '{"event":"error"}\n{"event":"error","text":"no microphone: arecord"}\n{"ev'
sleep 0.1; printf 'ent":"final","text":"caf\303\251 au lait"}\n'
exec sleep 600
)sh";

// A partial, then half a line, then gone.
constexpr char exitsMidStream[] = R"sh(printf '{"event":"partial","text":"twelve"}\n{"event":"fin'
exit 3
)sh";

// Waits for the file "go", then prints 500 partials, the final "one", 500
// more and the final "two" in one go (less than a pipe holds), then makes
// the file "flooded".
constexpr char partialFlood[] = R"sh(rec=$(dirname "$0")
echo $$ > "$rec/pid"
until [ -f "$rec/go" ]; do sleep 0.01; done
awk 'BEGIN { for (i = 0; i < 1000; i++) {
  printf "{\"event\":\"partial\",\"text\":\"p%d\"}\n", i
  if (i % 500 == 499) printf "{\"event\":\"final\",\"text\":\"%s\"}\n", i < 500 ? "one" : "two"
} }'
touch "$rec/flooded"
exec sleep 600
)sh";

} // namespace ostrel::fakes
