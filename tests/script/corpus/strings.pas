program Strings;
{ Strings and characters. }
var
  s, t: string;
  c: Char;
  i, n: Integer;
begin
  s := 'Hello';
  t := 'World';
  AddMsgDebug(s + ', ' + t + '!');
  AddMsgDebug('It''s ' + #65#66 + #$43);
  AddMsgDebug(IntToStr(Length(s)) + ' ' + IntToStr(Length('')) + ' ' + IntToStr(Length(s + t)));
  c := s[1];
  AddMsgDebug(c + s[5] + t[Length(t)]);
  s[1] := 'J';
  AddMsgDebug(s);
  AddMsgDebug(Copy('abcdef', 2, 3) + '|' + Copy('abcdef', 5, 10) + '|' + Copy('abcdef', 0, 2) + '|' + Copy('abc', 7, 1) + '|');
  AddMsgDebug(IntToStr(Pos('lo', 'hello hello')) + ' ' + IntToStr(Pos('x', 'abc')) + ' ' + IntToStr(Pos('', 'abc')));
  s := 'abcdef';
  Delete(s, 2, 2);
  AddMsgDebug(s);
  Delete(s, 10, 1);
  Delete(s, 3, 100);
  AddMsgDebug(s);
  Insert('XYZ', s, 2);
  AddMsgDebug(s);
  Insert('!', s, 100);
  AddMsgDebug(s);
  AddMsgDebug(UpperCase('MiXeD 123') + ' ' + LowerCase('MiXeD 123'));
  AddMsgDebug('[' + Trim('  padded  ') + ']' + '[' + Trim('') + ']');
  AddMsgDebug(Chr(72) + Chr(105) + ' ' + IntToStr(Ord('A')) + ' ' + IntToStr(Ord(c)));
  if 'abc' < 'abd' then AddMsgDebug('less');
  if 'abc' < 'ab' then AddMsgDebug('wrong') else AddMsgDebug('longer is greater');
  if s = 'aXYZb!' then AddMsgDebug('equal');
  if s <> t then AddMsgDebug('different');
  if c = 'H' then AddMsgDebug('char compare');
  if 'B' > 'A' then AddMsgDebug('chars ordered');
  t := '';
  for i := 1 to 10 do
    t := t + IntToStr(i) + ',';
  AddMsgDebug(t);
  t := '';
  for c := 'a' to 'e' do
    t := t + c;
  AddMsgDebug(t + t);
  SetLength(t, 3);
  AddMsgDebug(t + IntToStr(Length(t)));
  n := 0;
  s := 'banana';
  for i := 1 to Length(s) do
    if s[i] = 'a' then n := n + 1;
  AddMsgDebug(IntToStr(n));
  s := 'x';
  t := s;
  t[1] := 'y';
  AddMsgDebug(s + t);
  AddMsgDebug(IntToStr(StrToInt('123') + StrToInt('-7')) + ' ' + IntToStr(StrToIntDef('abc', 42)) + ' ' + IntToStr(StrToInt('$1F')));
  AddMsgDebug(Format('%d|%5d|%-5d|%x|%.4x|%s|%5s|%.3f|%8.2f', [42, 7, 7, 255, 255, 'str', 'ab', 3.14159, 2.5]));
  AddMsgDebug(Format('%s=%d', ['n', 10]) + Format('%%', []));
end.
