program Basics;
{ Literals, comments, constants and integer operators. }
(* A second kind of comment *)
// and a line comment
const
  Ten = 10;
  Big = $7FFFFFFF;
  Mask = $FF;
  Greeting = 'Hello';
  Twice = Ten * 2 + 1;
var
  a, b, c: Integer;
  q: Int64;
  flag: Boolean;
begin
  a := 17;
  b := 5;
  AddMsgDebug(IntToStr(a + b) + ' ' + IntToStr(a - b) + ' ' + IntToStr(a * b));
  AddMsgDebug(IntToStr(a div b) + ' ' + IntToStr(a mod b));
  AddMsgDebug(IntToStr(-a div b) + ' ' + IntToStr(-a mod b) + ' ' + IntToStr(a mod -b));
  AddMsgDebug(IntToStr(2 + 3 * 4) + ' ' + IntToStr((2 + 3) * 4) + ' ' + IntToStr(20 - 4 - 3));
  AddMsgDebug(IntToStr(a and b) + ' ' + IntToStr(a or b) + ' ' + IntToStr(a xor b));
  AddMsgDebug(IntToStr(a shl 3) + ' ' + IntToStr(a shr 2) + ' ' + IntToStr(Mask));
  AddMsgDebug(IntToStr(Twice) + ' ' + Greeting + ' ' + IntToStr(Ten));
  c := Big;
  c := c + 1;
  AddMsgDebug(IntToStr(c));
  q := Big;
  q := q + 1;
  AddMsgDebug(IntToStr(q));
  q := q * q;
  AddMsgDebug(IntToStr(q));
  c := 100000;
  AddMsgDebug(IntToStr(c * c));
  c := c * c;
  AddMsgDebug(IntToStr(c));
  flag := (a > b) and not (a = b) or (b > 100);
  if flag then AddMsgDebug('flag') else AddMsgDebug('no flag');
  flag := (a < b) xor (b < a);
  if flag then AddMsgDebug('xor');
  AddMsgDebug(IntToStr(-(-a)) + ' ' + IntToStr(+a) + ' ' + IntToStr(not 0));
  AddMsgDebug(IntToStr($10) + ' ' + IntToStr($ffff) + ' ' + IntToStr(1000000000000));
end.
