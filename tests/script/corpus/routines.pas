program Routines;
{ Procedures and functions. }
var
  g, x, y: Integer;
  s: string;

procedure Later(n: Integer); forward;
function Fact(n: Integer): Int64; forward;

procedure Swap(var a, b: Integer);
var
  t: Integer;
begin
  t := a;
  a := b;
  b := t;
end;

procedure AppendTo(var target: string; const what: string);
begin
  target := target + what;
end;

function Fib(n: Integer): Integer;
begin
  if n < 2 then
    Fib := n
  else
    Fib := Fib(n - 1) + Fib(n - 2);
end;

function Fact(n: Integer): Int64;
begin
  if n <= 1 then
    Result := 1
  else
    Result := n * Fact(n - 1);
end;

procedure Later(n: Integer);
begin
  AddMsgDebug('later ' + IntToStr(n));
  if n > 0 then Later(n - 1);
end;

function FirstOver(limit: Integer): Integer;
var
  i: Integer;
begin
  Result := -1;
  for i := 1 to 100 do
    if i * i > limit then
    begin
      Result := i;
      Exit;
    end;
end;

function Sign(v: Integer): Integer;
begin
  if v > 0 then Exit(1);
  if v < 0 then Exit(-1);
  Result := 0;
end;

procedure Bump;
begin
  g := g + 1;
end;

function ByValue(v: Integer): Integer;
begin
  v := v * 2;
  Result := v;
end;

function Concat3(const a, b, c: string): string;
begin
  Result := a + b + c;
end;

begin
  x := 1;
  y := 2;
  Swap(x, y);
  AddMsgDebug(IntToStr(x) + ' ' + IntToStr(y));
  s := 'a';
  AppendTo(s, 'b');
  AppendTo(s, 'c');
  AddMsgDebug(s);
  AddMsgDebug(IntToStr(Fib(20)) + ' ' + IntToStr(Fact(20)));
  Later(2);
  AddMsgDebug(IntToStr(FirstOver(50)) + ' ' + IntToStr(Sign(-5)) + IntToStr(Sign(0)) + IntToStr(Sign(9)));
  g := 0;
  Bump;
  Bump;
  AddMsgDebug(IntToStr(g));
  x := 21;
  AddMsgDebug(IntToStr(ByValue(x)) + ' ' + IntToStr(x));
  AddMsgDebug(Concat3('x', 'y', 'z'));
end.
