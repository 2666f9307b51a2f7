program Control;
{ Control flow. }
var
  i, j, n, sum: Integer;
  c: Char;
  s: string;

function Classify(x: Integer): string;
begin
  case x of
    0: Result := 'zero';
    1, 2, 3: Result := 'small';
    4..9: Result := 'medium';
    -5..-1: Result := 'negative';
  else
    Result := 'large';
  end;
end;

begin
  for i := -6 to 12 do
    AddMsgDebug(IntToStr(i) + ' ' + Classify(i));
  for c := 'a' to 'd' do
    case c of
      'a', 'c': AddMsgDebug(c + ' vowel-ish');
      'b': AddMsgDebug('b');
    else
      AddMsgDebug('other');
    end;
  sum := 0;
  i := 0;
  while i < 100 do
  begin
    i := i + 1;
    if i mod 2 = 0 then continue;
    if i > 50 then break;
    sum := sum + i;
  end;
  AddMsgDebug('while ' + IntToStr(sum) + ' ' + IntToStr(i));
  n := 0;
  repeat
    n := n + 3;
  until n > 20;
  AddMsgDebug('repeat ' + IntToStr(n));
  s := '';
  for i := 10 downto 1 do
  begin
    if i = 8 then continue;
    if i = 3 then break;
    s := s + IntToStr(i) + ' ';
  end;
  AddMsgDebug('downto ' + s);
  s := '';
  for i := 1 to 3 do
    for j := 1 to 3 do
    begin
      if j > i then break;
      s := s + IntToStr(i * 10 + j) + ' ';
    end;
  AddMsgDebug('nested ' + s);
  n := 0;
  for i := 5 to 1 do n := n + 1;
  AddMsgDebug('empty loop ' + IntToStr(n));
  if (n = 0) and (10 div (n + 1) = 10) then AddMsgDebug('short-circuit and');
  if (n = 0) or (10 div n = 1) then AddMsgDebug('short-circuit or');
  if not (n > 0) then
    if n < 0 then AddMsgDebug('dangling') else AddMsgDebug('else binds inner');
  n := 3;
  if n in [1, 3, 5..7] then AddMsgDebug('in set');
  if not (n in [4, 8..9]) then AddMsgDebug('not in set');
end.
