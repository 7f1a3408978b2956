"""What the agent's skills understand, as the listener hears it.

The grammar mirrors the patterns of agent/ostrel/skills/*.mjs in the words a
person says: window lists, window placement, the battery, timers and
reminders, spoken arithmetic, the user's folders and files, and settings. A new skill (or a new way of asking an old
one) belongs here too, or the listener will only catch it through the
general language model.
"""

GRAMMAR = r"""
#JSGF V1.0;
grammar ostrel;

public <command> = <apps> | <place> | <battery> | <timer> | <sum> | <folders> | <files> | <settings>;

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
<duration> = (<number> | a | an | half an) <unit> [and <number> <unit>];
<errand> = stretch | take a break | drink some water | call home
         | check the oven | go for a walk;
<timer> = set a timer for <duration>
        | [start a] timer [for] <duration>
        | <duration> timer
        | remind me in <duration> [to <errand>];

<operator> = plus | minus | times | multiplied by | divided by | over
           | modulo | mod | to the power of;
<sum> = [what is | calculate] <number> ((<operator> <number>) | squared | cubed)+;

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
    "open downloads",
    "find my resume",
    "volume up",
    "set the volume to thirty percent",
    "dark mode",
    "turn wifi off",
    "lock the screen",
    "open sound settings",
)
