program StringBuild;
{ (b) String building of 200,000 numbers: the decimal text of each, comma separated. }
var
  i: Integer;
  s: string;
begin
  s := '';
  for i := 1 to 200000 do
    s := s + IntToStr(i) + ',';
  AddMsgDebug(IntToStr(Length(s)));
end.
