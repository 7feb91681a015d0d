; Pocket and two circles in the stock.
; Machine coordinates are the tool's: X 0, Y 0 over the stock's centre, and
; at Z -2 the tip touches the stock's top face. G54 there, over the
; front-left corner, makes that point the work zero; G52 ends it.
G00 Z12
G00 X-20 Y-15
G01 Z-2 F900
G54
G00 Z5
G00 X10 Y8
G01 Z-1 F300
G01 G41 X30 Y8 F600
G01 X30 Y22
G01 X10 Y22
G01 X10 Y8
G40 G01 X20 Y15
G01 Z-2 F300
G03 X20 Y15 I-5 J0 F800
G02 X20 Y15 I-3 J0
G00 Z5
M05
G52 X0 Y0 Z0
G00 X0 Y0 Z12
M30
