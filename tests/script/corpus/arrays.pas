program Arrays;
{ Static and dynamic arrays. }
type
  TVec = array[1..5] of Integer;
  TGrid = array[0..2, 0..3] of Integer;
  TNames = array of string;
  TInts = array of Integer;
var
  v, w: TVec;
  grid: TGrid;
  names: TNames;
  d, e: TInts;
  i, j, total: Integer;
  s: string;
  m: array of array of Integer;

procedure Fill(var a: TVec; base: Integer);
var
  i: Integer;
begin
  for i := Low(a) to High(a) do
    a[i] := base + i;
end;

function Sum(const a: TInts): Integer;
var
  i: Integer;
begin
  Result := 0;
  for i := 0 to High(a) do
    Result := Result + a[i];
end;

function Doubled(a: TVec): TVec;
var
  i: Integer;
begin
  for i := 1 to 5 do
    a[i] := a[i] * 2;
  Result := a;
end;

procedure Grow(var a: TInts; n: Integer);
begin
  SetLength(a, Length(a) + n);
end;

begin
  Fill(v, 10);
  w := v;
  w[1] := 0;
  s := '';
  for i := 1 to 5 do
    s := s + IntToStr(v[i]) + '/' + IntToStr(w[i]) + ' ';
  AddMsgDebug(s);
  w := Doubled(v);
  AddMsgDebug(IntToStr(w[5]) + ' ' + IntToStr(v[5]));
  AddMsgDebug(IntToStr(Low(v)) + ' ' + IntToStr(High(v)) + ' ' + IntToStr(Length(v)));
  for i := 0 to 2 do
    for j := 0 to 3 do
      grid[i, j] := i * 10 + j;
  AddMsgDebug(IntToStr(grid[2, 3]) + ' ' + IntToStr(grid[1][2]));
  SetLength(names, 3);
  names[0] := 'zero';
  names[1] := 'one';
  names[2] := names[0] + names[1];
  AddMsgDebug(names[2] + ' ' + IntToStr(Length(names)));
  SetLength(d, 4);
  for i := 0 to 3 do
    d[i] := i * i;
  AddMsgDebug(IntToStr(Sum(d)));
  e := d;
  e[0] := 100;
  AddMsgDebug(IntToStr(d[0]));
  Grow(d, 2);
  AddMsgDebug(IntToStr(Length(d)) + ' ' + IntToStr(d[5]) + ' ' + IntToStr(d[3]));
  SetLength(d, 2);
  AddMsgDebug(IntToStr(Length(d)) + ' ' + IntToStr(High(d)));
  SetLength(m, 3);
  total := 0;
  for i := 0 to 2 do
  begin
    SetLength(m[i], i + 1);
    for j := 0 to i do
    begin
      m[i][j] := i + j;
      total := total + m[i, j];
    end;
  end;
  AddMsgDebug(IntToStr(total) + ' ' + IntToStr(Length(m[2])));
  SetLength(d, 0);
  AddMsgDebug(IntToStr(Length(d)));
end.
