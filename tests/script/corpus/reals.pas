program Reals;
{ Real numbers. }
var
  d, e: Double;
  x: Extended;
  i: Integer;
  q: Int64;
begin
  d := 1.5;
  e := 0.25;
  AddMsgDebug(FloatToStr(d + e) + ' ' + FloatToStr(d - e) + ' ' + FloatToStr(d * e) + ' ' + FloatToStr(d / e));
  i := 7;
  d := i / 2;
  AddMsgDebug(FloatToStr(d) + ' ' + FloatToStr(i + 0.5) + ' ' + FloatToStr(i * 1.5));
  d := 10;
  d := d / 3;
  AddMsgDebug(FloatToStr(d));
  x := 2;
  AddMsgDebug(FloatToStr(Sqrt(x)) + ' ' + FloatToStr(Sqr(x)) + ' ' + FloatToStr(Sqr(1.5)));
  d := 2.5;
  AddMsgDebug(IntToStr(Round(d)) + ' ' + IntToStr(Round(3.5)) + ' ' + IntToStr(Round(-2.5)) + ' ' + IntToStr(Trunc(-2.7)) + ' ' + IntToStr(Trunc(2.7)));
  d := -3.75;
  AddMsgDebug(FloatToStr(Abs(d)) + ' ' + IntToStr(Abs(-12)));
  d := 1e20;
  AddMsgDebug(FloatToStr(d));
  d := 1.5e-10;
  AddMsgDebug(FloatToStr(d) + ' ' + FloatToStr(-d));
  d := 123456789012345;
  AddMsgDebug(FloatToStr(d));
  d := 0.0001;
  AddMsgDebug(FloatToStr(d));
  d := 0.000001;
  AddMsgDebug(FloatToStr(d));
  d := 0.1;
  e := 0.2;
  AddMsgDebug(FloatToStr(d + e));
  if d < e then AddMsgDebug('less');
  if i > d then AddMsgDebug('int vs real');
  q := Round(1e12);
  AddMsgDebug(IntToStr(q));
  AddMsgDebug(Format('%.2f %.0f %.3f %f', [3.14159, 2.5, -0.25, 1.0]));
  d := 100;
  AddMsgDebug(FloatToStr(d) + ' ' + FloatToStr(Int(7.9)) + ' ' + FloatToStr(Frac(7.5)));
end.
