; Engraves a square and a circle into the plate. Program coordinates are the
; cutter's: X and Y over the plate's centre at 0, and at Z -8 the cutter's
; tip touches the plate's top.
G00 Z6
G00 X-12 Y-8
G01 Z-8 F600
G54
G01 Z-1 F300
G01 X16 F900
G01 Y16
G01 X0
G01 Y0
G00 Z4
G00 X30 Y8
G01 Z-1 F300
G03 X30 Y8 I-6 J0 F1200
G00 Z4
M05
G52 X0 Y0 Z0
G00 X0 Y0 Z6
M30
