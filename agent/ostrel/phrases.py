"""What the agent's skills understand, as the listener hears it.

The grammar mirrors the patterns of agent/ostrel/skills/*.mjs in the words a
person says: window lists, window placement, the battery, timers and
reminders, spoken arithmetic and percentages, conversions, the time and
date, opening applications (by name or by what they are) and switching to
windows, the user's folders and files, and settings. Installed application names and open window titles come in when
the listener builds it (grammar()). A new skill (or a new way of asking an
old one) belongs here too, or the listener will only catch it through the
general language model.
"""

import glob
import os
import re
import shutil
import subprocess
import time

STATIC = r"""
<things> = apps | applications | windows | programs;
<apps> = (what | which) <things> are (open | running)
       | (list | show [me]) [all | the | my] [open | running] <things>
       | what is (open | running);

<half> = (left | right | top | bottom | upper | lower) (half | side);
<window> = [the | this | my] window;
<place> = [(move | snap | put) <window> [to [the]]] <half>
        | maximize [<window>]
        | center [<window>];

<battery> = how is my battery
          | [what is] my battery [level]
          | battery [level | status]
          | how much charge [is left | do i have]
          | [what is] my power level;

<digit> = one | two | three | four | five | six | seven | eight | nine;
<teen> = ten | eleven | twelve | thirteen | fourteen | fifteen | sixteen
       | seventeen | eighteen | nineteen;
<tens> = twenty | thirty | forty | fifty | sixty | seventy | eighty | ninety;
<below100> = zero | <digit> | <teen> | <tens> [<digit>];
<below1000> = <below100> | (a | <digit>) hundred [[and] <below100>];
<number> = <below1000> [(thousand | million) [<below1000>]] [point <digit>+];

<unit> = second | seconds | minute | minutes | hour | hours;
<fraction> = and a half | and a quarter | and <number> quarters;
<amount> = <number> [<fraction>] | a | an | half (a | an) | [a] quarter of (a | an) | <number> quarters of (a | an);
<duration> = <amount> <unit> [<fraction>] [and <number> <unit>];
<errand> = stretch | take a break | drink some water | call home
         | check the oven | go for a walk;
<timer> = set a timer for <duration>
        | [start a] timer [for] <duration>
        | <duration> timer
        | remind me in <duration> [to <errand>]
        | (stop | cancel) the (timer | reminder)
        | cancel all timers
        | how (long | much time) is left;

<operator> = plus | minus | times | multiplied by | divided by | over
           | modulo | mod | to the power of;
<operand> = <number> | [the] (square | cube) root of <number> | <number> percent;
<sum> = [what is | calculate] <operand> ((<operator> <operand>) | squared | cubed)+
      | [what is] <number> percent of <number>
      | [what is] [the] (square | cube) root of <number>;

<measure> = miles | mile | kilometers | kilometer | meters | feet | foot | inches | inch
          | pounds | pound | ounces | ounce | kilograms | grams | liters | gallons | cups
          | celsius | fahrenheit | megabytes | gigabytes;
<convert> = [convert] <number> <measure> (in | to) <measure>
          | how many <measure> (are in | in) (a | one) <measure>;

<city> = tokyo | london | paris | berlin | new york | sydney | moscow | chicago | madrid | rome;
<month> = january | february | march | april | may | june | july | august | september
        | october | november | december;
<clock> = what time is it [in <city>]
        | what is the (time | date)
        | what day is it
        | how many days until [the] <below100> <month>;

<kind> = terminal | browser | web browser | text editor | editor | file manager | files
       | calculator | spreadsheet | word processor | presentation | image viewer
       | photo viewer | photo editor | media player | music player | video player
       | archive manager | torrent client | chat | audio editor | task manager
       | system monitor | pdf viewer | document viewer | volume control | settings;
<app> = <kind>{APPS};
<open> = (open | launch | start) [a | an | the | my] <app> [app];
<switch> = (switch to | go to | show | focus) [the | my] (<app>{WINDOWS}) [window];

<folder> = downloads | documents | pictures | music | videos | desktop | home;
<folders> = (open | show [me] | go to) [my | the] <folder> [folder] | go home;

<filename> = resume | budget | notes | invoice | report | photos | tax return;
<files> = (find | locate | where is | search for) [my | the] <filename> [file]
        | open [my | the] <filename> file
        | show [my | the] <filename> in the file manager;

<updown> = up | down;
<onoff> = on | off;
<radio> = wifi | bluetooth;
<page> = sound | display | network | bluetooth | keyboard | mouse | power;
<settings> = [turn [the]] volume <updown> | turn it <updown>
           | set the volume to <number> percent | mute | un mute
           | what is the volume
           | [turn [the]] brightness <updown> | set the brightness to <number> percent
           | [switch to] (dark | light) mode
           | lock [the] screen | (suspend | log out) [now]
           | turn [the] <radio> <onoff> | turn <onoff> [the] <radio>
           | open [the] <page> settings;
"""

COMMAND = "public <command> = <apps> | <place> | <battery> | <timer> | <sum> | <convert> | <clock> | <open> | <switch> | <folders> | <files> | <settings>;"
MAX_NAMES = 400
MAX_WORDS_PER_NAME = 4


def words_of(text):
    return re.findall(r"[a-z]+(?:'[a-z]+)?", text.lower())


def phrases_in(names, known):
    """Lower-case phrases of the names in the words the dictionary knows
    (the recogniser can say no other: "Firefox ESR" is "firefox"), at most
    MAX_NAMES."""
    out = []
    for name in names:
        words = [w for w in words_of(name) if w in known][:MAX_WORDS_PER_NAME]
        phrase = " ".join(words)
        if phrase and phrase not in out:
            out.append(phrase)
    return out[:MAX_NAMES]


def application_dirs(env=os.environ):
    home = env.get("XDG_DATA_HOME") or os.path.join(env.get("HOME", "/"), ".local", "share")
    data = (env.get("XDG_DATA_DIRS") or "/usr/local/share:/usr/share").split(":")
    return [os.path.join(d, "applications") for d in [home] + data if os.path.isabs(d)]


def installed_names(env=os.environ, limit=5000):
    """Name and GenericName of the shown desktop entries, as the agent reads them."""
    names = []
    files = []
    for folder in application_dirs(env):
        files += sorted(glob.glob(os.path.join(glob.escape(folder), "**", "*.desktop"), recursive=True))[:limit]
    for path in files[:limit]:
        try:
            with open(path, "rb") as f:
                text = f.read(65536).decode("utf-8", "replace")
        except OSError:
            continue
        entry = text.split("[Desktop Entry]", 1)[-1].split("\n[", 1)[0]
        keys = dict(l.split("=", 1) for l in entry.splitlines() if "=" in l and not l.startswith("#"))
        keys = {k.strip(): v.strip() for k, v in keys.items()}
        if keys.get("Type") != "Application" or "true" in (keys.get("NoDisplay"), keys.get("Hidden")):
            continue
        names += [keys[k] for k in ("Name", "GenericName") if keys.get(k)]
    return names


def window_titles(env=os.environ, budget=1.0):
    """The titles of the open windows that xprop reads within `budget`
    seconds altogether (a hung X server costs no more); none without X."""
    if not env.get("DISPLAY") or not shutil.which("xprop", path=env.get("PATH")):
        return []
    deadline = time.monotonic() + budget

    def run(*args):
        left = deadline - time.monotonic()
        if left <= 0:
            raise subprocess.TimeoutExpired("xprop", budget)
        return subprocess.run(["xprop", *args], capture_output=True, text=True, errors="replace",
                              timeout=left, env=env).stdout

    titles = []
    try:
        for i in re.findall(r"0x[0-9a-f]+", run("-root", "_NET_CLIENT_LIST"))[:100]:
            title = re.search(r'= "(.*)"', run("-id", i, "_NET_WM_NAME"))
            titles += [title.group(1)] if title else []
    except (OSError, subprocess.SubprocessError):
        pass
    return titles


def grammar(apps=(), windows=(), known=None):
    """The command grammar, with the installed applications' names (apps)
    and the words of open windows' titles (windows) where the dictionary
    (known) has them."""
    known = known if known is not None else set()
    names = phrases_in(apps, known)
    titles = phrases_in([part for t in windows for part in re.split(r"\s+[-–—|:]\s+|[/\\]", t)], known)
    alternatives = lambda phrases: "".join(" | " + p for p in phrases)
    body = STATIC.replace("{APPS}", alternatives(names)).replace("{WINDOWS}", alternatives(titles))
    return "#JSGF V1.0;\ngrammar ostrel;\n\n" + COMMAND + "\n" + body



# One or more ways of asking each skill, in the words of its patterns. The
# tests and the benchmark speak every one of them.
COMMANDS = (
    "what apps are open",
    "list windows",
    "show me the running applications",
    "what is running",
    "twelve times eighty nine",
    "seven point five minus two",
    "what is one hundred divided by four",
    "nine squared",
    "left half",
    "right half",
    "top half",
    "bottom half",
    "maximize",
    "center",
    "move the window to the left half",
    "how is my battery",
    "how much charge is left",
    "set a timer for three minutes",
    "set a timer for five minutes",
    "timer thirty seconds",
    "remind me in ten minutes to stretch",
    "set a timer for an hour and a half",
    "stop the timer",
    "fifteen percent of eighty",
    "what time is it",
    "open firefox",
    "open the text editor",
    "switch to the terminal",
    "open downloads",
    "find my resume",
    "volume up",
    "set the volume to thirty percent",
    "dark mode",
    "turn wifi off",
    "lock the screen",
    "open sound settings",
)
